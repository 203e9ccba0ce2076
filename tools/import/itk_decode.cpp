// Decoding with ITK (see itk_decode.h). Every header has been checked by
// our own code before ITK sees the file.
#include "itk_decode.h"

#include <cctype>
#include <cstring>
#include <iostream>
#include <sstream>

#include <itkGDCMImageIO.h>
#include <itkImage.h>
#include <itkImageFileReader.h>
#include <itkImageIOFactory.h>

namespace {

using Volume = itk::Image<float, 3>;

// Runs of white space (ITK's messages span lines) become one space.
std::string one_line(const std::string& text)
{
    std::string line;
    for (const char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            if (!line.empty() && line.back() != ' ') line += ' ';
        } else {
            line += c;
        }
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

// ITK's description without its "ITK ERROR: Class(0x...): " prefix.
std::string itk_reason(const itk::ExceptionObject& e)
{
    std::string text = one_line(e.GetDescription());
    const std::string tag = "ITK ERROR: ";
    if (text.rfind(tag, 0) == 0) {
        const auto end = text.find("): ");
        text = end == std::string::npos ? text.substr(tag.size()) : text.substr(end + 3);
    }
    return text.empty() ? "unreadable" : text;
}

// What a reader prints on std::cerr while it runs, kept instead of shown:
// ITK's MetaImage reader reports a short read there and nowhere else.
class CerrCapture {
public:
    CerrCapture() : saved_(std::cerr.rdbuf(text_.rdbuf())) {}
    ~CerrCapture() { std::cerr.rdbuf(saved_); }
    CerrCapture(const CerrCapture&) = delete;
    CerrCapture& operator=(const CerrCapture&) = delete;

    bool saw(const char* phrase) const { return text_.str().find(phrase) != std::string::npos; }

private:
    std::ostringstream text_;
    std::streambuf* saved_;
};

std::string pixel_description(const itk::ImageIOBase& io)
{
    return itk::ImageIOBase::GetPixelTypeAsString(io.GetPixelType()) + " pixels with " +
           std::to_string(io.GetNumberOfComponents()) + " components";
}

}  // namespace

std::string decode_dicom_slice(const std::string& file, int columns, int rows, float* into)
{
    itk::Object::GlobalWarningDisplayOff();
    auto reader = itk::ImageFileReader<Volume>::New();
    reader->SetImageIO(itk::GDCMImageIO::New());
    reader->SetFileName(file);
    try {
        reader->Update();
    } catch (const itk::ExceptionObject& e) {
        return itk_reason(e);
    }
    const auto size = reader->GetOutput()->GetLargestPossibleRegion().GetSize();
    if (int(size[0]) != columns || int(size[1]) != rows || size[2] != 1)
        return "its pixel data decodes to " + std::to_string(size[0]) + " x " + std::to_string(size[1]) + " x " +
               std::to_string(size[2]) + " pixels, not the " + std::to_string(columns) + " x " + std::to_string(rows) +
               " its header declares";
    std::memcpy(into, reader->GetOutput()->GetBufferPointer(), sizeof(float) * std::size_t(columns) * rows);
    return {};
}

std::string read_itk_volume(const std::string& file, ScanStack& stack)
{
    itk::Object::GlobalWarningDisplayOff();
    itk::ImageIOBase::Pointer io;
    try {
        io = itk::ImageIOFactory::CreateImageIO(file.c_str(), itk::IOFileModeEnum::ReadMode);
        if (!io) return "not a volume crane-import reads (a DICOM folder, NIfTI, NRRD or MetaImage is needed)";
        io->SetFileName(file);
        io->ReadImageInformation();
    } catch (const itk::ExceptionObject& e) {
        return itk_reason(e);
    }
    if (io->GetPixelType() != itk::IOPixelEnum::SCALAR || io->GetNumberOfComponents() != 1)
        return "unsupported pixel type (" + pixel_description(*io) + "): a grey-scale scan is needed";
    const unsigned dims = io->GetNumberOfDimensions();
    if (dims < 3 || io->GetDimensions(0) < 2 || io->GetDimensions(1) < 2 || io->GetDimensions(2) < 2)
        return "a 2-D image (a single slice): a volume of several slices is needed";
    for (unsigned d = 3; d < dims; ++d)
        if (io->GetDimensions(d) > 1)
            return "a " + std::to_string(dims) + "-D image (a series of volumes): one volume is needed";

    auto reader = itk::ImageFileReader<Volume>::New();
    reader->SetImageIO(io);
    reader->SetFileName(file);
    {
        CerrCapture chatter;
        try {
            reader->Update();
        } catch (const itk::ExceptionObject& e) {
            return itk_reason(e);
        }
        if (chatter.saw("not read completely")) return "truncated file: its voxel data is incomplete";
    }
    const Volume& image = *reader->GetOutput();
    const auto size = image.GetLargestPossibleRegion().GetSize();
    const auto spacing = image.GetSpacing();
    const auto& d = image.GetDirection();
    const auto origin = image.GetOrigin();
    stack.columns = int(size[0]);
    stack.rows = int(size[1]);
    for (int i = 0; i < 3; ++i) {
        stack.column_step[i] = spacing[0] * d[i][0];
        stack.row_step[i] = spacing[1] * d[i][1];
        stack.plane_step[i] = spacing[2] * d[i][2];
    }
    for (unsigned d2 = 0; d2 < 3; ++d2)
        if (!(spacing[d2] > 0)) return "the spacing " + brief_number(spacing[d2]) + " mm is not positive";
    const Vec3 o{origin[0], origin[1], origin[2]};
    for (std::size_t k = 0; k < size[2]; ++k) stack.origins.push_back(o + double(k) * stack.plane_step);
    const float* values = image.GetBufferPointer();
    stack.values.assign(values, values + image.GetPixelContainer()->Size());
    return {};
}
