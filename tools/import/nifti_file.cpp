// NIfTI-1 and NIfTI-2, read here from the header to the voxels.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "volume_files.h"

namespace {

constexpr long long most_voxels = 1LL << 28;  // 1 GiB of floats

bool ends_with(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The bytes of a plain or gzip-compressed file, from the start: at most
// limit of them. gzread reads a plain file as it is.
class Input {
public:
    explicit Input(const std::string& file) : gz_(gzopen(file.c_str(), "rb")) {}
    ~Input()
    {
        if (gz_) gzclose(gz_);
    }
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    bool open() const { return gz_ != nullptr; }
    // Reads exactly n bytes; false when the stream ends or breaks first.
    bool read(void* into, std::size_t n)
    {
        auto* p = static_cast<unsigned char*>(into);
        while (n > 0) {
            const unsigned chunk = unsigned(std::min<std::size_t>(n, 1u << 30));
            const int got = gzread(gz_, p, chunk);
            if (got <= 0) return false;
            p += got;
            n -= std::size_t(got);
        }
        return true;
    }
    bool skip(long long n)
    {
        std::vector<unsigned char> buffer(65536);
        while (n > 0) {
            const std::size_t chunk = std::size_t(std::min<long long>(n, (long long)buffer.size()));
            if (!read(buffer.data(), chunk)) return false;
            n -= (long long)chunk;
        }
        return true;
    }

private:
    gzFile gz_;
};

struct Header {
    bool swap = false;
    int version = 1;
    long long dim[8] = {};
    double pixdim[8] = {};
    int datatype = 0, bitpix = 0;
    double vox_offset = 0, scl_slope = 0, scl_inter = 0;
    int qform_code = 0, sform_code = 0;
    double quatern[3] = {}, qoffset[3] = {};
    double srow[3][4] = {};
    bool single_file = true;
};

template <class T>
T field(const unsigned char* b, std::size_t at, bool swap)
{
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, b + at, sizeof(T));
    if (swap) std::reverse(bytes, bytes + sizeof(T));
    T v;
    std::memcpy(&v, bytes, sizeof(T));
    return v;
}

std::string parse_nifti1(const unsigned char* b, Header& h)
{
    const auto i16 = [&](std::size_t at) { return field<std::int16_t>(b, at, h.swap); };
    const auto f32 = [&](std::size_t at) { return double(field<float>(b, at, h.swap)); };
    for (int d = 0; d < 8; ++d) h.dim[d] = i16(40 + 2 * d), h.pixdim[d] = f32(76 + 4 * d);
    h.datatype = i16(70);
    h.bitpix = i16(72);
    h.vox_offset = f32(108);
    h.scl_slope = f32(112);
    h.scl_inter = f32(116);
    h.qform_code = i16(252);
    h.sform_code = i16(254);
    for (int i = 0; i < 3; ++i) h.quatern[i] = f32(256 + 4 * i), h.qoffset[i] = f32(268 + 4 * i);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c) h.srow[r][c] = f32(280 + 16 * r + 4 * c);
    if (std::memcmp(b + 344, "n+1\0", 4) == 0)
        h.single_file = true;
    else if (std::memcmp(b + 344, "ni1\0", 4) == 0)
        h.single_file = false;
    else
        return "not a NIfTI file: its magic is not \"n+1\" or \"ni1\"";
    return {};
}

std::string parse_nifti2(const unsigned char* b, Header& h)
{
    const auto i16 = [&](std::size_t at) { return field<std::int16_t>(b, at, h.swap); };
    const auto i32 = [&](std::size_t at) { return field<std::int32_t>(b, at, h.swap); };
    const auto i64 = [&](std::size_t at) { return field<std::int64_t>(b, at, h.swap); };
    const auto f64 = [&](std::size_t at) { return field<double>(b, at, h.swap); };
    h.version = 2;
    h.datatype = i16(12);
    h.bitpix = i16(14);
    for (int d = 0; d < 8; ++d) h.dim[d] = i64(16 + 8 * d), h.pixdim[d] = f64(104 + 8 * d);
    const long long offset = i64(168);
    h.vox_offset = double(offset);
    h.scl_slope = f64(176);
    h.scl_inter = f64(184);
    h.qform_code = i32(344);
    h.sform_code = i32(348);
    for (int i = 0; i < 3; ++i) h.quatern[i] = f64(352 + 8 * i), h.qoffset[i] = f64(376 + 8 * i);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c) h.srow[r][c] = f64(400 + 32 * r + 8 * c);
    if (std::memcmp(b + 4, "n+2\0\r\n\032\n", 8) == 0)
        h.single_file = true;
    else if (std::memcmp(b + 4, "ni2\0\r\n\032\n", 8) == 0)
        h.single_file = false;
    else
        return "not a NIfTI-2 file: its magic is damaged";
    return {};
}

// The header, NIfTI-1 (348 bytes) or NIfTI-2 (540), either byte order.
std::string read_header(Input& in, Header& h, std::size_t& header_size)
{
    unsigned char b[540];
    if (!in.read(b, 4)) return "truncated NIfTI file: it ends inside its header";
    std::int32_t size;
    std::memcpy(&size, b, 4);
    std::int32_t swapped = field<std::int32_t>(b, 0, true);
    h.swap = size != 348 && size != 540;
    header_size = std::size_t(h.swap ? swapped : size);
    if (header_size != 348 && header_size != 540) return "not a NIfTI file: its header size is not 348 or 540";
    if (!in.read(b + 4, header_size - 4)) return "truncated NIfTI file: it ends inside its header";
    return header_size == 348 ? parse_nifti1(b, h) : parse_nifti2(b, h);
}

struct Datatype {
    int code, bits;
    const char* name;
};
constexpr Datatype datatypes[] = {{2, 8, "uint8"},     {4, 16, "int16"},    {8, 32, "int32"},    {16, 32, "float32"},
                                  {64, 64, "float64"}, {256, 8, "int8"},    {512, 16, "uint16"}, {768, 32, "uint32"},
                                  {1024, 64, "int64"}, {1280, 64, "uint64"}};

const Datatype* find_datatype(int code)
{
    for (const Datatype& d : datatypes)
        if (d.code == code) return &d;
    return nullptr;
}

std::string datatype_name(int code)
{
    switch (code) {
    case 32: return "complex64";
    case 128: return "RGB";
    case 1536: return "float128";
    case 1792: return "complex128";
    case 2048: return "complex256";
    case 2304: return "RGBA";
    default: return "datatype " + std::to_string(code);
    }
}

// Shape, type, offset and scaling: everything checked before a voxel is read.
std::string check_header(const Header& h, long long& voxels)
{
    const long long dims = h.dim[0];
    if (dims < 1 || dims > 7) return "damaged NIfTI header: dim[0] is " + std::to_string(dims);
    for (int d = 1; d <= dims; ++d)
        if (h.dim[d] < 1) return "damaged NIfTI header: dim[" + std::to_string(d) + "] is " + std::to_string(h.dim[d]);
    if (dims < 3 || h.dim[1] < 2 || h.dim[2] < 2 || h.dim[3] < 2)
        return "a 2-D image (a single slice): a volume of several slices is needed";
    for (int d = 4; d <= dims; ++d)
        if (h.dim[d] > 1) return "a " + std::to_string(dims) + "-D image (a series of volumes): one volume is needed";
    const Datatype* type = find_datatype(h.datatype);
    if (!type) return "unsupported pixel type (" + datatype_name(h.datatype) + "): a grey-scale scan is needed";
    if (h.bitpix != type->bits)
        return "damaged NIfTI header: bitpix " + std::to_string(h.bitpix) + " for " + type->name + " voxels";
    if (h.dim[1] > most_voxels || h.dim[2] > most_voxels || h.dim[3] > most_voxels ||
        h.dim[1] * h.dim[2] > most_voxels || h.dim[1] * h.dim[2] * h.dim[3] > most_voxels)
        return "too large: " + std::to_string(h.dim[1]) + " x " + std::to_string(h.dim[2]) + " x " +
               std::to_string(h.dim[3]) + " voxels (at most 268 million are read)";
    voxels = h.dim[1] * h.dim[2] * h.dim[3];
    if (!std::isfinite(h.vox_offset) || h.vox_offset < 0 || h.vox_offset != std::floor(h.vox_offset) ||
        h.vox_offset > 1e12)
        return "damaged NIfTI header: vox_offset " + brief_number(h.vox_offset) + " is not a byte offset";
    if (!std::isfinite(h.scl_slope) || !std::isfinite(h.scl_inter))
        return "damaged NIfTI header: scl_slope or scl_inter is not a finite number";
    return {};
}

// --- orientation --------------------------------------------------------

using Affine = std::array<std::array<double, 4>, 3>;  // voxel index -> RAS mm

Affine qform_affine(const Header& h, std::string& reason)
{
    double b = h.quatern[0], c = h.quatern[1], d = h.quatern[2];
    double a = 1.0 - (b * b + c * c + d * d);
    if (a < 1e-7) {
        a = 1.0 / std::sqrt(b * b + c * c + d * d);
        b *= a, c *= a, d *= a, a = 0;
    } else {
        a = std::sqrt(a);
    }
    const double qfac = h.pixdim[0] < 0 ? -1 : 1;
    const double dx = h.pixdim[1], dy = h.pixdim[2], dz = qfac * h.pixdim[3];
    if (!(dx > 0) || !(dy > 0) || !(h.pixdim[3] > 0) || !std::isfinite(dx) || !std::isfinite(dy) || !std::isfinite(dz))
        reason = "the voxel size " + brief_number(h.pixdim[1]) + " x " + brief_number(h.pixdim[2]) + " x " +
                 brief_number(h.pixdim[3]) + " mm is not positive and finite";
    const double r[3][3] = {{a * a + b * b - c * c - d * d, 2 * (b * c - a * d), 2 * (b * d + a * c)},
                            {2 * (b * c + a * d), a * a + c * c - b * b - d * d, 2 * (c * d - a * b)},
                            {2 * (b * d - a * c), 2 * (c * d + a * b), a * a + d * d - c * c - b * b}};
    Affine m{};
    for (int i = 0; i < 3; ++i) {
        m[i] = {r[i][0] * dx, r[i][1] * dy, r[i][2] * dz, h.qoffset[i]};
    }
    return m;
}

Affine sform_affine(const Header& h)
{
    Affine m{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 4; ++j) m[i][j] = h.srow[i][j];
    return m;
}

Affine grid_affine(const Header& h, std::string& reason)
{
    Affine m{};
    for (int i = 0; i < 3; ++i) {
        m[i][i] = h.pixdim[i + 1];
        if (!(m[i][i] > 0) || !std::isfinite(m[i][i]))
            reason = "the voxel size " + brief_number(h.pixdim[1]) + " x " + brief_number(h.pixdim[2]) + " x " +
                     brief_number(h.pixdim[3]) + " mm is not positive and finite";
    }
    return m;
}

Vec3 apply(const Affine& m, double i, double j, double k)
{
    Vec3 p;
    for (int r = 0; r < 3; ++r) p[r] = m[r][0] * i + m[r][1] * j + m[r][2] * k + m[r][3];
    return p;
}

// The largest distance between the two mappings over the volume's corners.
double largest_disagreement(const Affine& a, const Affine& b, const Header& h)
{
    double worst = 0;
    for (int corner = 0; corner < 8; ++corner) {
        const double i = corner & 1 ? double(h.dim[1] - 1) : 0, j = corner & 2 ? double(h.dim[2] - 1) : 0,
                     k = corner & 4 ? double(h.dim[3] - 1) : 0;
        const Vec3 d = apply(a, i, j, k) - apply(b, i, j, k);
        worst = std::max(worst, std::sqrt(dot(d, d)));
    }
    return worst;
}

double smallest_voxel(const Affine& m)
{
    double smallest = INFINITY;
    for (int j = 0; j < 3; ++j)
        smallest = std::min(smallest, std::sqrt(dot({m[0][j], m[1][j], m[2][j]}, {m[0][j], m[1][j], m[2][j]})));
    return smallest;
}

// The sform when its code is set, else the qform, else the voxel grid: the
// rule nibabel, SPM, FSL and MRIcron follow.
std::string choose_orientation(const Header& h, Affine& m, std::vector<std::string>& warnings)
{
    std::string reason;
    if (h.sform_code > 0) {
        m = sform_affine(h);
        if (h.qform_code > 0) {
            std::string q_reason;
            const Affine q = qform_affine(h, q_reason);
            const double off = largest_disagreement(m, q, h);
            if (q_reason.empty() && off > smallest_voxel(m))
                warnings.push_back("the NIfTI qform and sform disagree by up to " + brief_number(off) +
                                   " mm: the sform was used, as nibabel, SPM, FSL and MRIcron do");
        }
        return {};
    }
    if (h.qform_code > 0) {
        m = qform_affine(h, reason);
        return reason;
    }
    warnings.push_back("the NIfTI header gives no orientation (qform and sform codes are 0): the orientation is "
                       "unknown, the voxel grid was taken as it is");
    m = grid_affine(h, reason);
    return reason;
}

// --- voxels -------------------------------------------------------------

template <class T>
void convert(const unsigned char* raw, std::size_t n, bool swap, float* out)
{
    for (std::size_t i = 0; i < n; ++i) out[i] = float(field<T>(raw, i * sizeof(T), swap));
}

void to_floats(int datatype, const std::vector<unsigned char>& raw, bool swap, std::vector<float>& out)
{
    const std::size_t n = out.size();
    switch (datatype) {
    case 2: convert<std::uint8_t>(raw.data(), n, swap, out.data()); break;
    case 4: convert<std::int16_t>(raw.data(), n, swap, out.data()); break;
    case 8: convert<std::int32_t>(raw.data(), n, swap, out.data()); break;
    case 16: convert<float>(raw.data(), n, swap, out.data()); break;
    case 64: convert<double>(raw.data(), n, swap, out.data()); break;
    case 256: convert<std::int8_t>(raw.data(), n, swap, out.data()); break;
    case 512: convert<std::uint16_t>(raw.data(), n, swap, out.data()); break;
    case 768: convert<std::uint32_t>(raw.data(), n, swap, out.data()); break;
    case 1024: convert<std::int64_t>(raw.data(), n, swap, out.data()); break;
    case 1280: convert<std::uint64_t>(raw.data(), n, swap, out.data()); break;
    default: break;
    }
}

std::string data_file_of(const std::string& header)
{
    for (const char* tail : {".hdr.gz", ".hdr"})
        if (ends_with(header, tail)) {
            const std::string base = header.substr(0, header.size() - std::strlen(tail));
            struct stat info {};
            if (::stat((base + ".img").c_str(), &info) != 0 && ::stat((base + ".img.gz").c_str(), &info) == 0)
                return base + ".img.gz";
            return base + ".img";
        }
    return header;
}

const char* const incomplete = "truncated or damaged NIfTI file: its voxel data is incomplete";

// Checks that the data file holds the voxels, before allocating them; a
// compressed one is decompressed once to count its bytes.
std::string check_data_size(const std::string& data_file, long long needed)
{
    if (ends_with(data_file, ".gz")) return inflated_size(data_file, 0, needed) < needed ? incomplete : "";
    struct stat info {};
    if (::stat(data_file.c_str(), &info) != 0 || info.st_size < needed) return incomplete;
    return {};
}

}  // namespace

bool is_nifti_name(const std::string& file)
{
    return ends_with(file, ".nii") || ends_with(file, ".nii.gz") || ends_with(file, ".hdr") ||
           ends_with(file, ".hdr.gz");
}

std::string check_regular_file(const std::string& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::string("cannot open it: ") + std::strerror(errno);
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    return regular ? std::string() : "not a regular file (a device, FIFO or socket is not read)";
}

std::string read_nifti(const std::string& file, ScanStack& stack, std::vector<std::string>& warnings)
{
    if (std::string reason = check_regular_file(file); !reason.empty()) return reason;
    Input in(file);
    if (!in.open()) return "cannot open it";
    Header h;
    std::size_t header_size = 0;
    if (std::string reason = read_header(in, h, header_size); !reason.empty()) return reason;
    long long voxels = 0;
    if (std::string reason = check_header(h, voxels); !reason.empty()) return reason;
    Affine m{};
    if (std::string reason = choose_orientation(h, m, warnings); !reason.empty()) return reason;

    const std::string data_file = h.single_file ? file : data_file_of(file);
    const long long offset = (long long)h.vox_offset;
    if (h.single_file && offset < (long long)header_size)
        return "damaged NIfTI header: vox_offset " + std::to_string(offset) + " lies inside the header";
    const std::size_t bytes = std::size_t(voxels) * std::size_t(h.bitpix / 8);
    if (!h.single_file)
        if (std::string reason = check_regular_file(data_file); !reason.empty()) return data_file + ": " + reason;
    if (std::string reason = check_data_size(data_file, offset + (long long)bytes); !reason.empty()) return reason;

    std::vector<unsigned char> raw(bytes);
    if (h.single_file) {
        if (!in.skip(offset - (long long)header_size) || !in.read(raw.data(), bytes)) return incomplete;
    } else {
        Input data(data_file);
        if (!data.open() || !data.skip(offset) || !data.read(raw.data(), bytes)) return incomplete;
    }
    stack.values.assign(std::size_t(voxels), 0.0f);
    to_floats(h.datatype, raw, h.swap, stack.values);
    raw = {};
    if (h.scl_slope != 0)
        for (float& v : stack.values) v = float(v * h.scl_slope + h.scl_inter);

    // RAS to LPS: x and y change sign.
    const auto lps = [](Vec3 v) { return Vec3{-v[0], -v[1], v[2]}; };
    stack.columns = int(h.dim[1]);
    stack.rows = int(h.dim[2]);
    stack.column_step = lps({m[0][0], m[1][0], m[2][0]});
    stack.row_step = lps({m[0][1], m[1][1], m[2][1]});
    stack.plane_step = lps({m[0][2], m[1][2], m[2][2]});
    const Vec3 origin = lps({m[0][3], m[1][3], m[2][3]});
    for (long long k = 0; k < h.dim[3]; ++k) stack.origins.push_back(origin + double(k) * stack.plane_step);
    return {};
}
