// Every message the viewer and crane-snapshot write, in French as the
// viewer speaks, each on its stream and with its newline or without one,
// exactly as here. Nothing else in the program writes to the console.
#pragma once

#include <string>

// Standard output unbuffered, so that dots and messages appear at once and
// in order with standard error, also when redirected to one file.
void prepare_console();

// Start-up, on standard error.
void say_loading_head();              // "Chargement du crane\n"
void say_making_sphere();             // "Calcul d'une sphere\n"
void say_usage(const char* program);  // " Utilisation : PROGRAM [n]\n" "n = 1 : sphere , defaut : face\n"

// The loader, on standard output.
void say_slice_loaded();                        // "."
void say_largest_density(int density);          // "%d\n"
void say_cannot_open(const std::string& path);  // "erreur d'ouverture du fichier PATH", no newline
void say_cannot_read(const std::string& path);  // "erreur de lecture du fichier PATH", no newline

// Images: the surface level on standard output before every image that
// draws a surface, "\nCalcul d'image fini\n" on standard error after every
// image.
void say_surface_level(double level);  // "%f\n"
void say_image_done();

// The display, on standard error: no X display NAME could be opened.
void say_no_display(const std::string& name);  // "Impossible d'ouvrir l'ecran X \"NAME\" : voir ..."

// F12, on standard error, one line each.
void say_image_saved(const std::string& path, const std::string& command);   // "Image enregistree dans PATH ; ..."
void say_image_saved_alone(const std::string& path);                         // when no command can make it again
void say_cannot_save(const std::string& folder, const std::string& reason);  // "Image non enregistree ..."

// Keys, on standard output, without a newline.
void say_slice_index(int slice);       // "numero de couche = %d"
void say_threshold(double threshold);  // "Seuil de densite = %lf"
