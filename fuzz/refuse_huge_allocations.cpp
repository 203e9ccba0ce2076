// Linked into fuzz_import_dicom: operator new refuses a single allocation
// of more than 1 GiB with std::bad_alloc, as a machine without that much
// memory would. GDCM sizes a buffer by whatever length a data element
// declares, up to 4 GiB from four corrupt bytes, and zero-fills it before
// it finds the file too short; AddressSanitizer's own operator new would
// report that as out of memory, or the filling would pass the 2 GiB limit
// of run.sh. No input of a few KiB needs 1 GiB otherwise. All else goes to
// malloc and free, which the sanitizer still checks.
#include <algorithm>
#include <cstdlib>
#include <new>

namespace {

constexpr std::size_t largest = std::size_t{1} << 30;

void* allocate(std::size_t size)
{
    void* p = size <= largest ? std::malloc(std::max<std::size_t>(size, 1)) : nullptr;
    if (!p) throw std::bad_alloc();
    return p;
}

void* allocate(std::size_t size, std::align_val_t align)
{
    void* p = nullptr;
    const std::size_t alignment = std::max(sizeof(void*), std::size_t(align));
    if (size > largest || ::posix_memalign(&p, alignment, std::max<std::size_t>(size, 1)) != 0) throw std::bad_alloc();
    return p;
}

template <class... Align>
void* allocate_or_null(std::size_t size, Align... align) noexcept
{
    try {
        return allocate(size, align...);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace

void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void* operator new(std::size_t n, std::align_val_t a) { return allocate(n, a); }
void* operator new[](std::size_t n, std::align_val_t a) { return allocate(n, a); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return allocate_or_null(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return allocate_or_null(n); }
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept { return allocate_or_null(n, a); }
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return allocate_or_null(n, a);
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
