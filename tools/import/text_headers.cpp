// NRRD and MetaImage headers, checked before ITK reads the file: strict
// numbers, a volume's shape, a data file beside the header, and declared
// sizes against the bytes there (counted through any compression).
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include <sys/stat.h>
#include <zlib.h>

#include "volume_files.h"

namespace fs = std::filesystem;

namespace {

constexpr long long most_voxels = 1LL << 28;
constexpr std::size_t longest_header = 1 << 16;

bool ends_with(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string trim(std::string s)
{
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && space(s.back())) s.pop_back();
    std::size_t i = 0;
    while (i < s.size() && space(s[i])) ++i;
    return s.substr(i);
}

std::vector<std::string> words(const std::string& s)
{
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
        const std::size_t start = i;
        while (i < s.size() && !std::isspace(static_cast<unsigned char>(s[i]))) ++i;
        if (i > start) out.push_back(s.substr(start, i - start));
    }
    return out;
}

bool whole_integer(const std::string& text, long long& v)
{
    char* stop = nullptr;
    errno = 0;
    v = std::strtoll(text.c_str(), &stop, 10);
    return !text.empty() && *stop == '\0' && errno != ERANGE;
}

bool whole_number(const std::string& text, double& v)
{
    char* stop = nullptr;
    errno = 0;
    v = std::strtod(text.c_str(), &stop);
    return !text.empty() && *stop == '\0' && errno != ERANGE;
}

long long file_size(const std::string& file)
{
    struct stat info {};
    return ::stat(file.c_str(), &info) == 0 ? (long long)info.st_size : -1;
}

// A data file named by a header: a relative path inside the header's
// folder, reached without "..", without leaving it through a link, a
// regular file. Sets path; returns the reason it is refused, or empty.
std::string resolve_data_file(const std::string& header, const std::string& name, std::string& path)
{
    if (name.empty()) return "its data file name is empty";
    const fs::path named(name);
    if (named.is_absolute()) return "its data file " + name + " is an absolute path: it must lie beside the header";
    for (const auto& part : named)
        if (part == "..") return "its data file " + name + " leaves the header's folder";
    const fs::path folder = fs::path(header).parent_path().empty() ? fs::path(".") : fs::path(header).parent_path();
    path = (folder / named).string();
    std::error_code ec;
    const fs::path real_folder = fs::canonical(folder, ec);
    const fs::path real_file = ec ? fs::path() : fs::canonical(path, ec);
    if (ec) return "its data file " + name + " is missing";
    const auto [f, r] = std::mismatch(real_folder.begin(), real_folder.end(), real_file.begin(), real_file.end());
    if (f != real_folder.end()) return "its data file " + name + " is a link out of the header's folder";
    if (std::string reason = check_regular_file(path); !reason.empty()) return "its data file " + name + ": " + reason;
    return {};
}

// Declared bytes against the bytes there: raw data must fit in the file,
// compressed data must decompress to them.
std::string check_data_bytes(const std::string& data_file, long long offset, long long bytes, bool compressed)
{
    const long long size = file_size(data_file);
    if (size < 0 || offset > size) return "truncated file: its voxel data is missing";
    if (!compressed) {
        if (size - offset < bytes)
            return "truncated file: " + std::to_string(size - offset) + " bytes of voxel data, " +
                   std::to_string(bytes) + " declared";
        return {};
    }
    const long long inflated = inflated_size(data_file, offset, bytes);
    if (inflated < 0) return "damaged file: its compressed voxel data does not decompress";
    if (inflated < bytes)
        return "truncated file: its compressed voxel data holds " + std::to_string(inflated) + " bytes, " +
               std::to_string(bytes) + " declared";
    return {};
}

// The voxels of a shape whose axes of size 1 beyond the third are
// dropped; the reason when it is no 3-D volume or too large.
std::string check_shape(const std::vector<long long>& sizes, long long& voxels)
{
    for (long long s : sizes)
        if (s < 1) return "damaged header: a size of " + std::to_string(s);
    if (sizes.size() < 3 || sizes[0] < 2 || sizes[1] < 2 || sizes[2] < 2)
        return "a 2-D image (a single slice): a volume of several slices is needed";
    for (std::size_t d = 3; d < sizes.size(); ++d)
        if (sizes[d] > 1)
            return "a " + std::to_string(sizes.size()) + "-D image (a series of volumes): one volume is needed";
    voxels = 1;
    for (int d = 0; d < 3; ++d) {
        if (sizes[d] > most_voxels || voxels * sizes[d] > most_voxels)
            return "too large: " + std::to_string(sizes[0]) + " x " + std::to_string(sizes[1]) + " x " +
                   std::to_string(sizes[2]) + " voxels (at most 268 million are read)";
        voxels *= sizes[d];
    }
    return {};
}

// The text of a header: up to longest_header bytes.
std::string head_of(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    std::string text(longest_header, '\0');
    in.read(text.data(), std::streamsize(text.size()));
    text.resize(std::size_t(in.gcount()));
    return text;
}

// --- MetaImage ----------------------------------------------------------

int metaimage_element_bytes(const std::string& type)
{
    static const std::map<std::string, int> sizes = {{"MET_CHAR", 1},       {"MET_UCHAR", 1}, {"MET_SHORT", 2},
                                                     {"MET_USHORT", 2},     {"MET_INT", 4},   {"MET_UINT", 4},
                                                     {"MET_LONG", 4},       {"MET_ULONG", 4}, {"MET_LONG_LONG", 8},
                                                     {"MET_ULONG_LONG", 8}, {"MET_FLOAT", 4}, {"MET_DOUBLE", 8}};
    const auto it = sizes.find(type);
    return it == sizes.end() ? 0 : it->second;
}

std::string check_numbers(const std::map<std::string, std::string>& fields, const char* key, std::size_t count,
                          bool positive)
{
    const auto it = fields.find(key);
    if (it == fields.end()) return {};
    const std::vector<std::string> parts = words(it->second);
    if (parts.size() != count)
        return std::string("damaged header: ") + key + " has " + std::to_string(parts.size()) + " values, " +
               std::to_string(count) + " expected";
    for (const std::string& p : parts) {
        double v = 0;
        if (!whole_number(p, v) || !std::isfinite(v))
            return std::string("damaged header: ") + key + " value \"" + p.substr(0, 40) + "\" is not a finite number";
        if (positive && !(v > 0))
            return std::string("the spacing ") + brief_number(v) + " mm (" + key + ") is not positive";
    }
    return {};
}

}  // namespace

long long inflated_size(const std::string& file, long long offset, long long limit)
{
    std::ifstream in(file, std::ios::binary);
    in.seekg(offset);
    if (!in) return -1;
    z_stream z{};
    if (inflateInit2(&z, 15 + 32) != Z_OK) return -1;
    std::vector<unsigned char> input(1 << 16), output(1 << 16);
    long long total = 0;
    int status = Z_OK;
    while (status != Z_STREAM_END && total < limit) {
        if (z.avail_in == 0) {
            in.read(reinterpret_cast<char*>(input.data()), std::streamsize(input.size()));
            z.next_in = input.data();
            z.avail_in = unsigned(in.gcount());
            if (z.avail_in == 0) break;  // the stream breaks off
        }
        z.next_out = output.data();
        z.avail_out = unsigned(output.size());
        status = inflate(&z, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
            inflateEnd(&z);
            return -1;
        }
        total += (long long)(output.size() - z.avail_out);
    }
    inflateEnd(&z);
    return total;
}

bool is_nrrd_name(const std::string& file) { return ends_with(file, ".nrrd") || ends_with(file, ".nhdr"); }
bool is_metaimage_name(const std::string& file) { return ends_with(file, ".mha") || ends_with(file, ".mhd"); }

std::string check_metaimage(const std::string& file)
{
    if (std::string reason = check_regular_file(file); !reason.empty()) return reason;
    const std::string text = head_of(file);
    std::map<std::string, std::string> fields;
    std::size_t at = 0, header_end = std::string::npos;
    while (at < text.size()) {
        const std::size_t eol = text.find('\n', at);
        if (eol == std::string::npos) break;
        const std::string line = text.substr(at, eol - at);
        at = eol + 1;
        const std::size_t eq = line.find('=');
        // ITK's reader runs a key on into the lines after it up to the next
        // '=': a key "NDims" alone on its line took the Offset's -2 as its
        // value and asked for 2^32 dimensions.
        if (eq == std::string::npos) {
            if (trim(line).empty()) continue;
            return "damaged MetaImage header: the line \"" + trim(line).substr(0, 40) + "\" has no '='";
        }
        const std::string key = trim(line.substr(0, eq));
        // A key given twice: ITK's reader may size a field by the first
        // NDims and read it by the second.
        if (fields.count(key)) return "damaged MetaImage header: " + key.substr(0, 40) + " is given twice";
        fields[key] = trim(line.substr(eq + 1));
        if (key == "ElementDataFile") {
            header_end = at;
            break;
        }
    }
    if (header_end == std::string::npos) return "damaged MetaImage header: no ElementDataFile line";

    long long dims = 0;
    if (!whole_integer(fields["NDims"], dims) || dims < 1 || dims > 10)
        return "damaged MetaImage header: NDims \"" + fields["NDims"].substr(0, 40) + "\" is not a number from 1 to 10";
    std::vector<long long> sizes;
    for (const std::string& w : words(fields["DimSize"])) {
        long long v = 0;
        if (!whole_integer(w, v))
            return "damaged MetaImage header: DimSize \"" + w.substr(0, 40) + "\" is not a whole number";
        sizes.push_back(v);
    }
    if ((long long)sizes.size() != dims)
        return "damaged MetaImage header: DimSize has " + std::to_string(sizes.size()) + " values, NDims is " +
               std::to_string(dims);
    long long voxels = 0;
    if (std::string reason = check_shape(sizes, voxels); !reason.empty()) return reason;
    const int element_bytes = metaimage_element_bytes(fields["ElementType"]);
    if (element_bytes == 0)
        return "unsupported pixel type (ElementType \"" + fields["ElementType"].substr(0, 40) + "\")";
    if (fields.count("ElementNumberOfChannels") && fields["ElementNumberOfChannels"] != "1")
        return "unsupported pixel type (" + fields["ElementNumberOfChannels"].substr(0, 40) +
               " channels): a grey-scale scan is needed";
    for (const char* key : {"ElementSpacing", "ElementSize"})
        if (std::string reason = check_numbers(fields, key, std::size_t(dims), true); !reason.empty()) return reason;
    for (const char* key : {"Offset", "Origin", "Position", "CenterOfRotation"})
        if (std::string reason = check_numbers(fields, key, std::size_t(dims), false); !reason.empty()) return reason;
    for (const char* key : {"TransformMatrix", "Rotation", "Orientation"})
        if (std::string reason = check_numbers(fields, key, std::size_t(dims * dims), false); !reason.empty())
            return reason;
    if (fields.count("BinaryData") && fields["BinaryData"] != "True" && fields["BinaryData"] != "true")
        return "MetaImage text data (BinaryData False) is not read";
    const bool compressed = fields["CompressedData"] == "True" || fields["CompressedData"] == "true";
    long long header_size = 0;
    if (fields.count("HeaderSize") && (!whole_integer(fields["HeaderSize"], header_size) || header_size < -1))
        return "damaged MetaImage header: HeaderSize \"" + fields["HeaderSize"].substr(0, 40) + "\"";

    const std::string name = fields["ElementDataFile"];
    std::string data_file = file;
    long long offset = (long long)header_end;
    if (name != "LOCAL" && name != "Local" && name != "local") {
        if (name == "LIST" || name.find('%') != std::string::npos || words(name).size() > 1)
            return "MetaImage data file lists are not read";
        if (std::string reason = resolve_data_file(file, name, data_file); !reason.empty()) return reason;
        offset = std::max(0LL, header_size);
    }
    const long long bytes = voxels * element_bytes;
    if (header_size == -1 && !compressed) offset = std::max(0LL, file_size(data_file) - bytes);
    return check_data_bytes(data_file, offset, bytes, compressed);
}

// --- NRRD ---------------------------------------------------------------

namespace {

int nrrd_type_bytes(const std::string& type)
{
    static const std::map<std::string, int> sizes = {{"signed char", 1},
                                                     {"int8", 1},
                                                     {"int8_t", 1},
                                                     {"uchar", 1},
                                                     {"unsigned char", 1},
                                                     {"uint8", 1},
                                                     {"uint8_t", 1},
                                                     {"short", 2},
                                                     {"short int", 2},
                                                     {"signed short", 2},
                                                     {"signed short int", 2},
                                                     {"int16", 2},
                                                     {"int16_t", 2},
                                                     {"ushort", 2},
                                                     {"unsigned short", 2},
                                                     {"unsigned short int", 2},
                                                     {"uint16", 2},
                                                     {"uint16_t", 2},
                                                     {"int", 4},
                                                     {"signed int", 4},
                                                     {"int32", 4},
                                                     {"int32_t", 4},
                                                     {"uint", 4},
                                                     {"unsigned int", 4},
                                                     {"uint32", 4},
                                                     {"uint32_t", 4},
                                                     {"longlong", 8},
                                                     {"long long", 8},
                                                     {"long long int", 8},
                                                     {"signed long long", 8},
                                                     {"signed long long int", 8},
                                                     {"int64", 8},
                                                     {"int64_t", 8},
                                                     {"ulonglong", 8},
                                                     {"unsigned long long", 8},
                                                     {"unsigned long long int", 8},
                                                     {"uint64", 8},
                                                     {"uint64_t", 8},
                                                     {"float", 4},
                                                     {"double", 8}};
    const auto it = sizes.find(type);
    return it == sizes.end() ? 0 : it->second;
}

// "(a,b,c) (d,e,f) none": each vector finite; true when all parse.
bool nrrd_vectors(const std::string& text, std::string& reason)
{
    for (const std::string& w : words(text)) {
        if (w == "none") continue;
        if (w.size() < 2 || w.front() != '(' || w.back() != ')') return reason = "\"" + w.substr(0, 40) + "\"", false;
        std::string inner = w.substr(1, w.size() - 2);
        std::size_t start = 0;
        double length = 0;
        for (;;) {
            const std::size_t comma = inner.find(',', start);
            double v = 0;
            const std::string part =
                inner.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            if (!whole_number(part, v) || !std::isfinite(v)) return reason = "\"" + w.substr(0, 40) + "\"", false;
            length += v * v;
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        if (!(length > 0)) return reason = "a zero-length direction " + w.substr(0, 40), false;
    }
    return true;
}

}  // namespace

std::string check_nrrd(const std::string& file)
{
    if (std::string reason = check_regular_file(file); !reason.empty()) return reason;
    const std::string text = head_of(file);
    if (text.rfind("NRRD000", 0) != 0) return "not a NRRD file: it does not start with NRRD000N";
    std::map<std::string, std::string> fields;
    std::size_t at = text.find('\n');
    std::size_t data_start = std::string::npos;
    while (at != std::string::npos && at + 1 <= text.size()) {
        ++at;
        const std::size_t eol = text.find('\n', at);
        const std::string line = trim(text.substr(at, eol == std::string::npos ? std::string::npos : eol - at));
        if (line.empty()) {
            data_start = eol == std::string::npos ? text.size() : eol + 1;
            break;
        }
        at = eol;
        if (line[0] == '#' || line.find(":=") != std::string::npos) continue;
        const std::size_t colon = line.find(": ");
        if (colon == std::string::npos) return "damaged NRRD header: \"" + line.substr(0, 40) + "\"";
        fields[line.substr(0, colon)] = trim(line.substr(colon + 2));
        if (eol == std::string::npos) break;
    }
    long long dims = 0;
    if (!whole_integer(fields["dimension"], dims) || dims < 1 || dims > 16)
        return "damaged NRRD header: dimension \"" + fields["dimension"].substr(0, 40) +
               "\" is not a number from 1 to 16";
    std::vector<long long> sizes;
    for (const std::string& w : words(fields["sizes"])) {
        long long v = 0;
        if (!whole_integer(w, v)) return "damaged NRRD header: size \"" + w.substr(0, 40) + "\" is not a whole number";
        sizes.push_back(v);
    }
    if ((long long)sizes.size() != dims) return "damaged NRRD header: sizes does not give one size per dimension";
    long long voxels = 0;
    if (std::string reason = check_shape(sizes, voxels); !reason.empty()) return reason;
    const int element_bytes = nrrd_type_bytes(fields["type"]);
    if (element_bytes == 0) return "unsupported pixel type (NRRD type \"" + fields["type"].substr(0, 40) + "\")";
    for (const std::string& w : words(fields["spacings"])) {
        double v = 0;
        if (w != "nan" && w != "NaN" && (!whole_number(w, v) || !std::isfinite(v) || !(v > 0)))
            return "the spacing \"" + w.substr(0, 40) + "\" is not a positive number";
    }
    std::string reason;
    if (!nrrd_vectors(fields["space directions"], reason)) return "damaged NRRD header: space directions " + reason;
    if (!nrrd_vectors(fields["space origin"], reason)) return "damaged NRRD header: space origin " + reason;

    const std::string encoding = fields["encoding"];
    const bool compressed = encoding == "gzip" || encoding == "gz";
    // Bytes the data needs at least: text holds one digit or more per value.
    long long per_value = element_bytes;
    if (encoding == "txt" || encoding == "text" || encoding == "ascii")
        per_value = 1;
    else if (encoding == "hex")
        per_value = 2 * element_bytes;
    else if (encoding != "raw" && !compressed)
        return "NRRD encoding \"" + encoding.substr(0, 40) + "\" is not read";
    long long skip = 0, line_skip = 0;
    if (fields.count("byte skip") && (!whole_integer(fields["byte skip"], skip) || skip < -1))
        return "damaged NRRD header: byte skip \"" + fields["byte skip"].substr(0, 40) + "\"";
    if (fields.count("line skip") && (!whole_integer(fields["line skip"], line_skip) || line_skip < 0))
        return "damaged NRRD header: line skip \"" + fields["line skip"].substr(0, 40) + "\"";

    std::string data_file = file;
    long long offset = 0;
    const std::string name = fields.count("data file") ? fields["data file"] : fields["datafile"];
    if (!name.empty()) {
        if (name.rfind("LIST", 0) == 0 || words(name).size() > 1) return "NRRD data file lists are not read";
        if (std::string why = resolve_data_file(file, name, data_file); !why.empty()) return why;
    } else {
        if (data_start == std::string::npos) return "damaged NRRD header: no blank line before the data";
        offset = (long long)data_start;
    }
    const long long bytes = voxels * per_value;
    if (skip == -1) return check_data_bytes(data_file, std::max(0LL, file_size(data_file) - bytes), bytes, compressed);
    return compressed ? check_data_bytes(data_file, offset, bytes + skip, true)
                      : check_data_bytes(data_file, offset + skip, bytes, false);
}
