// crane-fuzz-seeds OUT: writes the seed inputs of the fuzz targets into
// OUT/loader, OUT/keys, OUT/import_dicom and OUT/import_nifti (the layouts
// are in loader_case.h, keys_case.h and import_case.h). The DICOM and
// NIfTI seeds are tiny volumes written with ITK, valid and damaged.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <itkGDCMImageIO.h>
#include <itkImageFileWriter.h>
#include <itkImageRegionIteratorWithIndex.h>
#include <itkImageSeriesWriter.h>
#include <itkMetaDataObject.h>
#include <itkRGBPixel.h>

#include "import_case.h"

namespace fs = std::filesystem;

namespace {

using bytes = std::vector<std::uint8_t>;
using ShortVolume = itk::Image<short, 3>;

void save(const fs::path& file, const bytes& b)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

bytes slurp(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bytes operator+(bytes a, const bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

bytes text(const std::string& s) { return {s.begin(), s.end()}; }

// --- loader: header n, kind, parameter, shift, records; then the pattern ---

void loader_seeds(const fs::path& out)
{
    bytes pattern;
    for (int i = 0; i < 256; ++i) pattern.push_back(std::uint8_t(i * 37 + 11));
    pattern.push_back(0xFF);
    pattern.push_back(0x0F);  // 4095 once a word starts here
    save(out / "nothing", {});
    save(out / "complete-zeros", {94, 0, 0, 0, 0});
    save(out / "complete-pattern", bytes{94, 0, 0, 7, 0} + pattern);
    save(out / "longer-and-links", bytes{94, 1, 10, 3, 2, 50, 7, 0, 60, 7, 2} + text("head"));
    save(out / "short-at-40", bytes{94, 0, 0, 1, 1, 40, 2, 100} + pattern);
    save(out / "folder-at-1", {94, 0, 0, 0, 1, 1, 4, 0});
    save(out / "fifo-at-94", bytes{94, 0, 0, 5, 1, 94, 6, 0} + pattern);
    save(out / "dangling-link-at-2", {94, 0, 0, 0, 1, 2, 7, 1});
    save(out / "empty-at-3", bytes{94, 0, 0, 0, 1, 3, 3, 0} + text("x"));
    save(out / "only-93", bytes{93, 0, 0, 9, 0} + pattern);
    save(out / "absent-47", bytes{94, 0, 0, 2, 1, 47, 5, 0} + pattern);
    save(out / "one-byte-short", bytes{94, 0, 0, 0, 1, 94, 2, 255} + text("\xff\xff"));
}

// --- keys: extents, window, keys ---

void keys_seeds(const fs::path& out)
{
    save(out / "snapshot-no-keys", {24, 13, 31, 48, 48});
    save(out / "every-key", bytes{24, 13, 31, 40, 30} + text("+-cdklmoqrswx+-r+r-rqwsxr"));
    save(out / "turns", bytes{24, 13, 31, 33, 21} + text("ooookkkrmmmlllrrooomm"));
    save(out / "zero-window", bytes{24, 13, 31, 0, 0} + text("romk+-r"));
    save(out / "zero-width", bytes{24, 13, 31, 0, 17} + text("rrrooo"));
    save(out / "empty-volume", bytes{0, 0, 0, 16, 16} + text("+-romrrrkl"));
    save(out / "thin-volume", bytes{1, 2, 3, 9, 9} + text("orrmrrkrr+r"));
    save(out / "escape", bytes{24, 13, 31, 20, 20} + text("r\x1bq"));
    save(out / "slice-view", bytes{24, 13, 31, 32, 32} + text("rrr") + bytes(70, 'c') + text("ddd"));
}

// --- importer ---

// An 8 x 8 x slices head in miniature: air around water, a dense core.
ShortVolume::Pointer tiny_volume(int slices, double tilt = 0)
{
    auto image = ShortVolume::New();
    image->SetRegions(ShortVolume::SizeType{{8, 8, itk::SizeValueType(slices)}});
    const double spacing[3] = {2.0, 2.0, 3.0};
    image->SetSpacing(spacing);
    ShortVolume::DirectionType d;
    d.SetIdentity();
    d[0][0] = std::cos(tilt), d[0][1] = -std::sin(tilt), d[1][0] = std::sin(tilt), d[1][1] = std::cos(tilt);
    image->SetDirection(d);
    const double origin[3] = {-7.0, -7.0, -4.5};
    image->SetOrigin(origin);
    image->Allocate();
    for (itk::ImageRegionIteratorWithIndex<ShortVolume> it(image, image->GetLargestPossibleRegion()); !it.IsAtEnd();
         ++it) {
        const auto i = it.GetIndex();
        const int r = std::abs(int(i[0]) * 2 - 7) + std::abs(int(i[1]) * 2 - 7);
        it.Set(short(r > 10 ? -1000 : r > 4 ? 40 : 1200));
    }
    return image;
}

struct SeriesTags {
    std::string uid = "1.2.826.0.1.3680043.9.7433.7";
    std::string modality = "CT";
    bool rescale = true;
    bool one_position = false;
};

// The files of a series as ITK writes them.
std::vector<bytes> dicom_series(const ShortVolume::Pointer& image, const SeriesTags& tags, const fs::path& scratch)
{
    fs::create_directories(scratch);
    const auto size = image->GetLargestPossibleRegion().GetSize();
    std::vector<itk::MetaDataDictionary> dictionaries(size[2]);
    itk::ImageSeriesWriter<ShortVolume, itk::Image<short, 2>>::DictionaryArrayType pointers;
    std::vector<std::string> files;
    for (unsigned k = 0; k < size[2]; ++k) {
        ShortVolume::PointType p;
        image->TransformIndexToPhysicalPoint({{0, 0, tags.one_position ? 0 : k}}, p);
        std::ostringstream position;
        position << p[0] << '\\' << p[1] << '\\' << p[2];
        auto& dict = dictionaries[k];
        const auto set = [&dict](const char* tag, const std::string& value) {
            itk::EncapsulateMetaData<std::string>(dict, tag, value);
        };
        set("0008|0060", tags.modality);
        set("0008|0018", tags.uid + "." + std::to_string(k + 1));
        set("0008|103e", "seed");
        set("0020|000d", "1.2.826.0.1.3680043.9.7433.99");
        set("0020|000e", tags.uid);
        set("0020|0013", std::to_string(k + 1));
        set("0020|0032", position.str());
        set("0020|0037", "1\\0\\0\\0\\1\\0");
        set("0028|0004", "MONOCHROME2");
        if (tags.rescale) {
            set("0028|1052", "-1024");
            set("0028|1053", "2");
        }
        pointers.push_back(&dict);
        files.push_back((scratch / ("s" + std::to_string(k) + ".dcm")).string());
    }
    auto io = itk::GDCMImageIO::New();
    io->KeepOriginalUIDOn();
    auto writer = itk::ImageSeriesWriter<ShortVolume, itk::Image<short, 2>>::New();
    writer->SetInput(image);
    writer->SetImageIO(io);
    writer->SetFileNames(files);
    writer->SetMetaDataDictionaryArray(&pointers);
    writer->Update();
    std::vector<bytes> contents;
    for (const auto& f : files) contents.push_back(slurp(f));
    fs::remove_all(scratch);
    return contents;
}

bytes joined(const std::vector<bytes>& files)
{
    bytes all;
    for (std::size_t k = 0; k < files.size(); ++k) all = (k ? all + text(next_file_marker) : all) + files[k];
    return all;
}

template <class Image>
bytes written(const typename Image::Pointer& image, const fs::path& file, bool with_gdcm = false)
{
    auto writer = itk::ImageFileWriter<Image>::New();
    writer->SetInput(image);
    writer->SetFileName(file.string());
    if (with_gdcm) writer->SetImageIO(itk::GDCMImageIO::New());
    writer->Update();
    bytes b = slurp(file);
    fs::remove(file);
    return b;
}

void dicom_seeds(const fs::path& out, const fs::path& scratch)
{
    const std::vector<bytes> ct = dicom_series(tiny_volume(4), {}, scratch);
    save(out / "ct-series", joined(ct));
    save(out / "mr-series",
         joined(dicom_series(tiny_volume(3, 0.4), {.uid = "1.2.3.5", .modality = "MR", .rescale = false}, scratch)));
    std::vector<bytes> two = dicom_series(tiny_volume(2), {.uid = "1.2.3.6"}, scratch);
    for (const auto& f : dicom_series(tiny_volume(2), {.uid = "1.2.3.7"}, scratch)) two.push_back(f);
    save(out / "two-series", joined(two));
    save(out / "one-position", joined(dicom_series(tiny_volume(3), {.uid = "1.2.3.8", .one_position = true}, scratch)));
    save(out / "single-slice", joined(dicom_series(tiny_volume(1), {.uid = "1.2.3.9"}, scratch)));
    fs::create_directories(scratch);
    // One file holding the whole volume: GDCM writes the frames of a CT
    // image (and refuses to for the other classes it was tried with).
    auto frames = tiny_volume(4);
    itk::EncapsulateMetaData<std::string>(frames->GetMetaDataDictionary(), "0008|0016", "1.2.840.10008.5.1.4.1.1.2");
    itk::EncapsulateMetaData<std::string>(frames->GetMetaDataDictionary(), "0028|0004", "MONOCHROME2");
    save(out / "one-file-volume", written<ShortVolume>(frames, scratch / "v.dcm", true));
    std::vector<bytes> cut = ct;
    cut[1].resize(200);
    save(out / "cut-in-header", joined(cut));
    cut = ct;
    cut[2].resize(cut[2].size() - 40);
    save(out / "cut-in-pixels", joined(cut));
    save(out / "not-dicom", text("not a scan\n"));
    fs::remove_all(scratch);
}

void nifti_seeds(const fs::path& out, const fs::path& scratch)
{
    fs::create_directories(scratch);
    const bytes nii = written<ShortVolume>(tiny_volume(4), scratch / "v.nii");
    save(out / "short", bytes{0, 0} + nii);
    save(out / "oblique-float",
         bytes{0, 0} + written<itk::Image<float, 3>>(
                           [] {
                               auto f = itk::Image<float, 3>::New();
                               f->SetRegions(itk::Image<float, 3>::SizeType{{6, 5, 4}});
                               f->SetDirection(tiny_volume(1, 0.3)->GetDirection());
                               f->Allocate();
                               float v = -1000;
                               for (itk::ImageRegionIterator<itk::Image<float, 3>> it(f, f->GetLargestPossibleRegion());
                                    !it.IsAtEnd(); ++it, v += 23.5f)
                                   it.Set(v);
                               return f;
                           }(),
                           scratch / "f.nii"));
    save(out / "gzip", bytes{1, 0} + nii);
    save(out / "gzip-cut-in-header", bytes{2, 128} + nii);
    save(out / "gzip-cut", bytes{2, 200} + nii);
    bytes cut = nii;
    cut.resize(cut.size() - 100);
    save(out / "cut", bytes{0, 0} + cut);
    const bytes hdr = written<ShortVolume>(tiny_volume(3), scratch / "p.hdr"), img = slurp(scratch / "p.img");
    save(out / "pair", bytes{3, std::uint8_t(hdr.size() - 348)} + hdr + img);
    using RgbVolume = itk::Image<itk::RGBPixel<unsigned char>, 3>;
    auto rgb = RgbVolume::New();
    rgb->SetRegions(RgbVolume::SizeType{{4, 4, 4}});
    rgb->Allocate(true);
    save(out / "rgb", bytes{0, 0} + written<RgbVolume>(rgb, scratch / "rgb.nii"));
    auto flat = itk::Image<short, 2>::New();
    flat->SetRegions(itk::Image<short, 2>::SizeType{{8, 8}});
    flat->Allocate(true);
    save(out / "flat", bytes{0, 0} + written<itk::Image<short, 2>>(flat, scratch / "flat.nii"));
    auto series = itk::Image<short, 4>::New();
    series->SetRegions(itk::Image<short, 4>::SizeType{{4, 4, 3, 2}});
    series->Allocate(true);
    save(out / "time-series", bytes{0, 0} + written<itk::Image<short, 4>>(series, scratch / "t.nii"));
    fs::remove_all(scratch);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: crane-fuzz-seeds OUT\n");
        return 2;
    }
    const fs::path out = argv[1];
    const fs::path scratch = out / "scratch";
    loader_seeds(out / "loader");
    keys_seeds(out / "keys");
    dicom_seeds(out / "import_dicom", scratch);
    nifti_seeds(out / "import_nifti", scratch);
    return 0;
}
