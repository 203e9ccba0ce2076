// Our own walk over a DICOM file's elements (see dicom_file.h).
#include "dicom_file.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "scan_stack.h"

namespace {

constexpr std::uint32_t undefined_length = 0xFFFFFFFF;
constexpr int deepest_nesting = 32;

// The file's bytes, mapped read-only; only regular files are opened.
class MappedFile {
public:
    explicit MappedFile(const std::string& file)
    {
        const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            fault_ = std::string("cannot open it: ") + std::strerror(errno);
            return;
        }
        struct stat info {};
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            fault_ = "not a regular file";
        } else if (info.st_size > 0) {
            size_ = std::size_t(info.st_size);
            void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
            if (p == MAP_FAILED) {
                fault_ = std::string("cannot read it: ") + std::strerror(errno);
                size_ = 0;
            } else {
                bytes_ = static_cast<const unsigned char*>(p);
            }
        }
        ::close(fd);
    }
    ~MappedFile()
    {
        if (bytes_) ::munmap(const_cast<unsigned char*>(bytes_), size_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    const unsigned char* bytes() const { return bytes_; }
    std::size_t size() const { return size_; }
    const std::string& fault() const { return fault_; }

private:
    const unsigned char* bytes_ = nullptr;
    std::size_t size_ = 0;
    std::string fault_;
};

unsigned u16(const unsigned char* b) { return b[0] | unsigned(b[1]) << 8; }
std::uint32_t u32(const unsigned char* b) { return u16(b) | std::uint32_t(u16(b + 2)) << 16; }

bool is_upper(unsigned char c) { return c >= 'A' && c <= 'Z'; }

bool long_vr(const unsigned char* vr)
{
    static const char* const vrs[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ", "SV", "UC", "UN", "UR", "UT", "UV"};
    return std::any_of(std::begin(vrs), std::end(vrs), [&](const char* v) { return vr[0] == v[0] && vr[1] == v[1]; });
}

std::string tag_name(unsigned group, unsigned element)
{
    char text[16];
    std::snprintf(text, sizeof text, "(%04X,%04X)", group, element);
    return text;
}

std::string trimmed(const unsigned char* b, std::size_t n)
{
    std::string s(reinterpret_cast<const char*>(b), n);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    s.erase(0, s.find_first_not_of(' '));
    return s;
}

// Decimal strings "a\b\c": each part must parse whole to a finite number.
bool parse_numbers(const std::string& text, double* into, int count)
{
    std::size_t start = 0;
    for (int i = 0; i < count; ++i) {
        const std::size_t end = i + 1 < count ? text.find('\\', start) : text.size();
        if (end == std::string::npos) return false;
        std::string part = text.substr(start, end - start);
        part.erase(0, part.find_first_not_of(' '));
        while (!part.empty() && part.back() == ' ') part.pop_back();
        char* stop = nullptr;
        errno = 0;
        into[i] = std::strtod(part.c_str(), &stop);
        if (part.empty() || *stop != '\0' || errno == ERANGE || !std::isfinite(into[i])) return false;
        start = end + 1;
    }
    return text.find('\\', start) == std::string::npos || count == 0;
}

int parse_count(const std::string& text)
{
    char* stop = nullptr;
    const long v = std::strtol(text.c_str(), &stop, 10);
    return text.empty() || *stop != '\0' || v < 0 || v > 1000000 ? -1 : int(v);
}

class Walker {
public:
    Walker(const MappedFile& file, DicomHeader& h) : b_(file.bytes()), size_(file.size()), h_(h) {}

    void run()
    {
        std::size_t at = 0;
        const bool preamble = size_ >= 132 && std::memcmp(b_ + 128, "DICM", 4) == 0;
        if (preamble) at = 132;
        if (size_ < at + 8) return fault_if(preamble, "truncated DICOM file: it ends inside its header");
        const unsigned first_group = u16(b_ + at);
        if (!preamble && first_group != 0x0002 && first_group != 0x0008) return;  // not DICOM
        h_.is_dicom = true;
        bool explicit_vr = is_upper(b_[at + 4]) && is_upper(b_[at + 5]);
        if (first_group == 0x0002) {
            // The meta information is always explicit little endian.
            if (!walk(at, size_, 0, true, true)) return;
            explicit_vr = h_.transfer_syntax != "1.2.840.10008.1.2";
            if (h_.transfer_syntax == "1.2.840.10008.1.2.2")
                return fail("big-endian DICOM (a retired transfer syntax) is not read");
            if (h_.transfer_syntax == "1.2.840.10008.1.2.1.99") return fail("deflated DICOM is not read");
        }
        walk(at, size_, 0, explicit_vr, false);
    }

private:
    void fail(const std::string& reason)
    {
        if (h_.fault.empty()) h_.fault = reason;
    }
    void fault_if(bool dicom, const char* reason)
    {
        h_.is_dicom = dicom;
        if (dicom) fail(reason);
    }

    // Walks the elements from at to end. meta: only group 0002, stopping at
    // the first other group (and leaving at after it). Returns false on a
    // fault; at is left where the walk stopped.
    bool walk(std::size_t& at, std::size_t end, int depth, bool explicit_vr, bool meta)
    {
        if (depth > deepest_nesting) return fail("damaged DICOM file: sequences nested too deep"), false;
        while (at < end) {
            if (end - at < 8) return fail("truncated DICOM file: it ends inside an element"), false;
            const unsigned group = u16(b_ + at), element = u16(b_ + at + 2);
            if (meta && group != 0x0002) return true;
            if (group == 0xFFFE) {
                if (element == 0xE00D && depth > 0) return at += 8, true;  // end of an item
                return fail("damaged DICOM file: a delimiter out of place"), false;
            }
            std::uint32_t length;
            const unsigned char* vr = b_ + at + 4;
            bool sequence;
            if (explicit_vr) {
                if (!is_upper(vr[0]) || !is_upper(vr[1]))
                    return fail("damaged DICOM file: element " + tag_name(group, element) + " has no value type"),
                           false;
                sequence = vr[0] == 'S' && vr[1] == 'Q';
                if (long_vr(vr) || !known_short_vr(vr)) {
                    // An unknown VR is read, as GDCM reads it, with a 32-bit length.
                    if (end - at < 12) return fail("truncated DICOM file: it ends inside an element"), false;
                    length = u32(b_ + at + 8);
                    at += 12;
                } else {
                    length = u16(b_ + at + 6);
                    at += 8;
                }
            } else {
                length = u32(b_ + at + 4);
                sequence = length == undefined_length;
                at += 8;
            }
            if (meta && (sequence || length == undefined_length))
                return fail("damaged DICOM file: a sequence or undefined length inside its header"), false;
            if (length == undefined_length) {
                const bool pixels = depth == 0 && group == 0x7FE0 && element == 0x0010;
                if (!(pixels ? fragments(at, end) : items(at, end, depth, explicit_vr))) return false;
                continue;
            }
            if (length > end - at) {
                const bool pixels = group == 0x7FE0 && element == 0x0010;
                return fail("truncated DICOM file: " +
                            (pixels ? std::string("its pixel data is incomplete (")
                                    : "element " + tag_name(group, element) + " is incomplete (") +
                            std::to_string(end - at) + " of " + std::to_string(length) + " bytes)"),
                       false;
            }
            if (depth == 0)
                take(group, element, b_ + at, length);
            else if (group == 0x0020 && element == 0x0037)
                check_orientation(trimmed(b_ + at, length));
            at += length;
        }
        return true;
    }

    static bool known_short_vr(const unsigned char* vr)
    {
        static const char* const vrs[] = {"AE", "AS", "AT", "CS", "DA", "DS", "DT", "FD", "FL", "IS", "LO",
                                          "LT", "PN", "SH", "SL", "SS", "ST", "TM", "UI", "UL", "US"};
        return std::any_of(std::begin(vrs), std::end(vrs),
                           [&](const char* v) { return vr[0] == v[0] && vr[1] == v[1]; });
    }

    // A sequence of undefined length: items until the sequence delimiter.
    bool items(std::size_t& at, std::size_t end, int depth, bool explicit_vr)
    {
        for (;;) {
            if (end - at < 8) return fail("truncated DICOM file: it ends inside a sequence"), false;
            const unsigned group = u16(b_ + at), element = u16(b_ + at + 2);
            const std::uint32_t length = u32(b_ + at + 4);
            at += 8;
            if (group == 0xFFFE && element == 0xE0DD) return true;
            if (group != 0xFFFE || element != 0xE000)
                return fail("damaged DICOM file: a sequence without items"), false;
            if (length == undefined_length) {
                if (!walk(at, end, depth + 1, explicit_vr, false)) return false;
                continue;
            }
            if (length > end - at) return fail("truncated DICOM file: an item runs past its end"), false;
            std::size_t inside = at;
            if (!walk(inside, at + length, depth + 1, explicit_vr, false)) return false;
            at += length;
        }
    }

    // Encapsulated pixel data: the offset table, then the fragments.
    bool fragments(std::size_t& at, std::size_t end)
    {
        h_.has_pixel_data = h_.encapsulated = true;
        bool offset_table = true;
        for (;;) {
            if (end - at < 8) return fail("truncated DICOM file: it ends inside its pixel data"), false;
            const unsigned group = u16(b_ + at), element = u16(b_ + at + 2);
            const std::uint32_t length = u32(b_ + at + 4);
            at += 8;
            if (group == 0xFFFE && element == 0xE0DD) return true;
            if (group != 0xFFFE || element != 0xE000 || length == undefined_length)
                return fail("damaged DICOM file: its compressed pixel data is not a list of fragments"), false;
            if (length > end - at) return fail("truncated DICOM file: its pixel data is incomplete"), false;
            if (!offset_table) {
                if (h_.fragments.empty() && length >= 64) h_.rle_segments = u32(b_ + at);
                h_.fragments.emplace_back(at, length);
            }
            offset_table = false;
            at += length;
        }
    }

    // Two perpendicular unit vectors, wherever they appear: GDCM asserts on
    // others inside the per-frame groups of a multi-frame file.
    void check_orientation(const std::string& text)
    {
        double o[6];
        const auto length = [&](int i) { return std::sqrt(o[i] * o[i] + o[i + 1] * o[i + 1] + o[i + 2] * o[i + 2]); };
        if (!parse_numbers(text, o, 6) || std::abs(length(0) - 1) > 0.01 || std::abs(length(3) - 1) > 0.01 ||
            std::abs(o[0] * o[3] + o[1] * o[4] + o[2] * o[5]) > 0.01)
            fail("Image Orientation (Patient) \"" + text.substr(0, 60) + "\" is not two perpendicular unit vectors");
    }

    void take(unsigned group, unsigned element, const unsigned char* v, std::uint32_t n)
    {
        const std::uint32_t tag = std::uint32_t(group) << 16 | element;
        const auto text = [&] { return trimmed(v, n); };
        const auto us = [&] { return n >= 2 ? int(u16(v)) : 0; };
        switch (tag) {
        case 0x00020010: h_.transfer_syntax = text(); break;
        case 0x00080008: h_.image_type = text(); break;
        case 0x00080016: h_.sop_class = text(); break;
        case 0x00080060: h_.modality = text(); break;
        case 0x0008103E: h_.description = text(); break;
        case 0x0020000E: h_.series_uid = text(); break;
        case 0x00200032:
            h_.position_text = text();
            h_.has_position = true;
            if (!parse_numbers(h_.position_text, h_.position, 3))
                fail("Image Position (Patient) \"" + h_.position_text + "\" is not three finite numbers");
            break;
        case 0x00200037:
            h_.orientation_text = text();
            h_.has_orientation = true;
            if (!parse_numbers(h_.orientation_text, h_.orientation, 6))
                fail("Image Orientation (Patient) \"" + h_.orientation_text + "\" is not six finite numbers");
            else
                check_orientation(h_.orientation_text);
            break;
        case 0x00280030:
            h_.spacing_text = text();
            h_.has_spacing = true;
            if (!parse_numbers(h_.spacing_text, h_.spacing, 2) || !(h_.spacing[0] > 0) || !(h_.spacing[1] > 0))
                fail("Pixel Spacing \"" + h_.spacing_text + "\" is not two positive numbers");
            break;
        case 0x00280002: h_.samples = us(); break;
        case 0x00280004: h_.photometric = text(); break;
        case 0x00280008:
            h_.frames = parse_count(text());
            if (h_.frames < 1) fail("Number of Frames \"" + text() + "\" is not a positive whole number");
            break;
        case 0x00280010: h_.rows = us(); break;
        case 0x00280011: h_.columns = us(); break;
        case 0x00280100: h_.bits_allocated = us(); break;
        case 0x00280101: h_.bits_stored = us(); break;
        case 0x52009230: h_.per_frame_geometry = true; break;
        case 0x7FE00010:
            h_.has_pixel_data = true;
            h_.pixel_length = n;
            break;
        default: break;
        }
    }

    const unsigned char* b_;
    std::size_t size_;
    DicomHeader& h_;
};

// --- the meta information as GDCM reads it ---------------------------------
//
// Debian's GDCM was built with assertions: it aborts the program while
// reading the meta information, the group 0002 elements at the start of a
// file (after "DICM" at byte 128, or from byte 0 without it), when the file
// ends inside or right after them, or when one is a sequence or has an
// undefined length. The elements are walked as GDCM reads them: with
// explicit VRs (an unknown VR is followed by a 32-bit length), or implicit
// ones when the first element has no VR; the first tag of another group
// ends the walk. These files are refused with the reasons below.

const char* const ends_in_header = "truncated DICOM file: it ends inside its header";

bool is_vr(const unsigned char* v, const char* among)
{
    for (; *among; among += 2)
        if (v[0] == among[0] && v[1] == among[1]) return true;
    return false;
}

constexpr char dicom_vrs[] = "AEASATCSDADSDTFDFLISLOLTOBODOFOLOVOWPNSHSLSQSSSTSVTMUCUIULUNURUSUTUV";
constexpr char dicom_long_vrs[] = "OBODOFOLOVOWSQSVUCUNURUTUV";

const char* meta_group_fault(const unsigned char* b, std::size_t size, std::size_t at, bool explicit_vr)
{
    for (;;) {
        if (size < 4 || at > size - 4) return ends_in_header;
        if (u16(b + at) != 0x0002) return nullptr;
        std::uint64_t length;
        if (!explicit_vr) {
            if (at > size - 8) return ends_in_header;
            length = u32(b + at + 4);
            at += 8;
        } else {
            if (at > size - 6) return ends_in_header;
            if (b[at + 4] == 'S' && b[at + 5] == 'Q') return "damaged DICOM file: a sequence inside its header";
            if (is_vr(b + at + 4, dicom_long_vrs) || !is_vr(b + at + 4, dicom_vrs)) {
                if (size < 12 || at > size - 12) return ends_in_header;
                length = u32(b + at + 8);
                at += 12;
            } else {
                if (at > size - 8) return ends_in_header;
                length = u16(b + at + 6);
                at += 8;
            }
        }
        if (length == 0xFFFFFFFF) return "damaged DICOM file: an element of undefined length inside its header";
        if (length > size - at) return ends_in_header;
        at += length;
    }
}

const char* meta_header_fault(const unsigned char* b, std::size_t size)
{
    const bool preamble = size >= 132 && std::memcmp(b + 128, "DICM", 4) == 0;
    const std::size_t start = preamble ? 132 : 0;
    if (size < start + 4) return preamble ? ends_in_header : nullptr;
    if (u16(b + start) != 0x0002) return nullptr;
    if (size < start + 6) return ends_in_header;
    return meta_group_fault(b, size, start, is_vr(b + start + 4, dicom_vrs));
}

bool starts_with(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

DicomHeader read_dicom_header(const std::string& file)
{
    DicomHeader h;
    const MappedFile mapped(file);
    if (!mapped.fault().empty()) {
        h.fault = mapped.fault();
        return h;
    }
    if (const char* reason = meta_header_fault(mapped.bytes(), mapped.size())) {
        h.is_dicom = true;
        h.fault = reason;
        return h;
    }
    Walker(mapped, h).run();
    return h;
}

std::string dicom_pixel_fault(const DicomHeader& h)
{
    static const char* const readable[] = {"1.2.840.10008.1.2",      "1.2.840.10008.1.2.1",    "1.2.840.10008.1.2.4.50",
                                           "1.2.840.10008.1.2.4.51", "1.2.840.10008.1.2.4.57", "1.2.840.10008.1.2.4.70",
                                           "1.2.840.10008.1.2.4.80", "1.2.840.10008.1.2.4.81", "1.2.840.10008.1.2.4.90",
                                           "1.2.840.10008.1.2.4.91", "1.2.840.10008.1.2.5"};
    const std::string syntax = h.transfer_syntax.empty() ? "1.2.840.10008.1.2" : h.transfer_syntax;
    if (std::find(std::begin(readable), std::end(readable), syntax) == std::end(readable))
        return "its transfer syntax " + syntax + " is not one crane-import decodes";
    if (h.samples != 1)
        return "unsupported pixel type (" + std::to_string(h.samples) +
               " samples per pixel): a grey-scale scan is needed";
    if (!h.photometric.empty() && h.photometric != "MONOCHROME1" && h.photometric != "MONOCHROME2")
        return "unsupported pixel type (" + h.photometric + "): a grey-scale scan is needed";
    if (h.bits_allocated != 8 && h.bits_allocated != 16 && h.bits_allocated != 32)
        return "unsupported pixel type (" + std::to_string(h.bits_allocated) + "-bit pixels)";
    if (h.bits_stored < 1 || h.bits_stored > h.bits_allocated)
        return "damaged DICOM file: " + std::to_string(h.bits_stored) + " bits stored in " +
               std::to_string(h.bits_allocated) + "-bit pixels";
    if (h.rows < 1 || h.columns < 1)
        return "damaged DICOM file: an image of " + std::to_string(h.columns) + " x " + std::to_string(h.rows) +
               " pixels";
    const std::uint64_t samples = std::uint64_t(h.rows) * std::uint64_t(h.columns) * std::uint64_t(h.frames);
    if (samples > (std::uint64_t{1} << 28))
        return "too large: " + std::to_string(h.columns) + " x " + std::to_string(h.rows) + " pixels in " +
               std::to_string(h.frames) + " frames (at most 268 million samples are read)";
    const std::uint64_t bytes = samples * std::uint64_t(h.bits_allocated / 8);
    if (!h.encapsulated) {
        if (h.pixel_length < bytes)
            return "truncated or damaged DICOM file: its pixel data holds " + std::to_string(h.pixel_length) +
                   " bytes, its header declares " + std::to_string(bytes);
        return {};
    }
    if (h.fragments.empty()) return "damaged DICOM file: its compressed pixel data has no fragments";
    if (syntax == "1.2.840.10008.1.2.5") {
        const std::uint32_t expected = std::uint32_t(h.bits_allocated / 8);
        if (h.rle_segments != expected)
            return "damaged DICOM file: an RLE frame of " + std::to_string(h.rle_segments) + " segments, " +
                   std::to_string(expected) + " expected";
    }
    return {};
}

std::string dicom_non_image_kind(const DicomHeader& h)
{
    if (h.sop_class == "1.2.840.10008.5.1.4.1.1.481.2") return "RT dose";
    if (starts_with(h.sop_class, "1.2.840.10008.5.1.4.1.1.88.")) return "structured report";
    if (starts_with(h.sop_class, "1.2.840.10008.5.1.4.1.1.11.")) return "presentation state";
    if (starts_with(h.sop_class, "1.2.840.10008.5.1.4.1.1.481.")) return "radiotherapy object";
    if (!h.has_pixel_data) return "object without pixel data";
    if (h.image_type.find("LOCALIZER") != std::string::npos) return "scout";
    return {};
}
