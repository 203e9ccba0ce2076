// From the headers of a folder's files to the one series to import, its
// slices in order along their normal and where each lies.
#pragma once

#include <string>
#include <vector>

#include "dicom_file.h"
#include "scan_stack.h"

struct ScannedFile {
    std::string path;
    DicomHeader header;
};

struct SeriesPlan {
    std::string uid, description, modality;
    std::vector<std::string> files;  // ordered along the slice normal
    std::vector<Vec3> origins;       // LPS, of each file's first pixel
    Vec3 column_step{}, row_step{}, plane_step{};
    int columns = 0, rows = 0;
    bool multi_frame = false;  // one file holding the whole volume
    // Files that lie at the position of the file before them: the reader
    // keeps one when their pixels are identical and refuses them otherwise.
    std::vector<bool> same_position_as_previous;
    std::vector<std::string> notes;  // lines for the console: files skipped
    std::vector<std::string> warnings;
};

// The series wanted (or the only one that makes a volume), checked for one
// geometry: one orientation, one size of image, slices at distinct
// positions with no gap too large to fill. Files of other series, and
// files that are no image slice (dose, reports, scouts), are skipped and
// counted. folder names the folder in failures that concern no one file.
ImportFailure plan_series(const std::string& folder, const std::vector<ScannedFile>& files, const std::string& wanted,
                          SeriesPlan& plan);
