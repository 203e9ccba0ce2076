// The viewer's console messages.
#include "app/console.h"

#include <cstdio>

void prepare_console() { std::setvbuf(stdout, nullptr, _IONBF, 0); }

void say_loading_head() { std::fprintf(stderr, "Chargement du crane\n"); }
void say_making_sphere() { std::fprintf(stderr, "Calcul d'une sphere\n"); }

void say_usage(const char* program)
{
    std::fprintf(stderr, " Utilisation : %s [n]\n", program);
    std::fprintf(stderr, "n = 1 : sphere , defaut : face\n");
}

void say_slice_loaded() { std::printf("."); }
void say_largest_density(int density) { std::printf("%d\n", density); }
void say_cannot_open(const std::string& path) { std::printf("erreur d'ouverture du fichier %s", path.c_str()); }
void say_cannot_read(const std::string& path) { std::printf("erreur de lecture du fichier %s", path.c_str()); }

void say_surface_level(double level) { std::printf("%f\n", level); }
void say_image_done() { std::fprintf(stderr, "\nCalcul d'image fini\n"); }

void say_slice_index(int slice) { std::printf("numero de couche = %d", slice); }
void say_threshold(double threshold) { std::printf("Seuil de densite = %lf", threshold); }

void say_no_display(const std::string& name)
{
    std::fprintf(stderr, "Impossible d'ouvrir l'ecran X \"%s\" : voir la section \"Without a display\" du README.md\n",
                 name.c_str());
}

void say_image_saved(const std::string& path, const std::string& command)
{
    std::fprintf(stderr, "Image enregistree dans %s ; pour la refaire : %s\n", path.c_str(), command.c_str());
}

void say_image_saved_alone(const std::string& path)
{
    std::fprintf(stderr,
                 "Image enregistree dans %s ; aucune commande ne la refait : la fenetre a change de taille "
                 "sur une couche hors du volume\n",
                 path.c_str());
}

void say_cannot_save(const std::string& folder, const std::string& reason)
{
    std::fprintf(stderr, "Image non enregistree dans %s : %s\n", folder.c_str(), reason.c_str());
}
