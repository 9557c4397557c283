// The little of a C and C++ runtime the CE stand-in uses, for SH Linux: Debian's C library for SH
// does not start under qemu-sh4 (its own startup loops forever), so the stand-in for SH is linked
// without it and gets these in its place. They do what the stand-in asks of them and no more: the
// output is written as it is formatted, memory is never given back, and a C++ library error ends the
// run as the stand-in's own refusals do.
#include <fcntl.h>
#include <strings.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

// The library's templates the stand-in uses, whose code the C++ library would otherwise hold.
template class std::allocator<char>;
template class std::allocator<wchar_t>;

namespace
{

// SH Linux's system calls: the number in R3, the arguments in R4-R7, R0 and R1, the result in R0.
long SystemCall(long number, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0, long f = 0)
{
    register long r3 asm("r3") = number;
    register long r4 asm("r4") = a;
    register long r5 asm("r5") = b;
    register long r6 asm("r6") = c;
    register long r7 asm("r7") = d;
    register long r0 asm("r0") = e;
    register long r1 asm("r1") = f;
    asm volatile("trapa #0x16" : "+r"(r0) : "r"(r3), "r"(r4), "r"(r5), "r"(r6), "r"(r7), "r"(r1) : "memory");
    return r0;
}

constexpr long kRead = 3, kWrite = 4, kOpen = 5, kClose = 6, kMprotect = 125, kMmap2 = 192, kExitGroup = 252;

// A failed call returns -errno, which the C library's callers see as -1.
long Result(long value)
{
    return value < 0 && value > -4096 ? -1 : value;
}

char **g_environment = nullptr;

// What new hands out, from one block, never given back: the stand-in runs one image and ends.
alignas(16) unsigned char g_heap[4 << 20];
std::size_t g_heapUsed = 0;

// Standard output and standard error, the only streams the stand-in writes.
FILE *const kStandardOutput = reinterpret_cast<FILE *>(1);
FILE *const kStandardError = reinterpret_cast<FILE *>(2);

void WriteAll(FILE *stream, const char *text, std::size_t size)
{
    while (size > 0)
    {
        const long written = SystemCall(kWrite, reinterpret_cast<long>(stream), reinterpret_cast<long>(text),
                                        static_cast<long>(size));
        if (written <= 0)
        {
            return;
        }
        text += written;
        size -= static_cast<std::size_t>(written);
    }
}

// The digits of value in base (10 or 16, upper-case unless lower), after a minus sign if negative.
std::size_t PutNumber(char (&digits)[24], unsigned long long value, unsigned base, bool lower,
                      bool isNegative)
{
    const char *numerals = lower ? "0123456789abcdef" : "0123456789ABCDEF";
    char reversed[24];
    std::size_t made = 0;
    do
    {
        reversed[made++] = numerals[value % base];
        value /= base;
    } while (value != 0);
    std::size_t count = 0;
    if (isNegative)
    {
        digits[count++] = '-';
    }
    while (made > 0)
    {
        digits[count++] = reversed[--made];
    }
    return count;
}

// The number a conversion with that many l's takes from arguments, as its magnitude, and its sign.
unsigned long long TakeNumber(va_list &arguments, int longs, bool isSigned, bool &isNegative)
{
    const unsigned long long value = longs == 2   ? va_arg(arguments, unsigned long long)
                                     : longs == 1 ? va_arg(arguments, unsigned long)
                                                  : va_arg(arguments, unsigned);
    if (!isSigned)
    {
        isNegative = false;
        return value;
    }
    const long long signedValue = longs == 2   ? static_cast<long long>(value)
                                  : longs == 1 ? static_cast<long>(value)
                                               : static_cast<int>(value);
    isNegative = signedValue < 0;
    return isNegative ? 0ULL - static_cast<unsigned long long>(signedValue)
                      : static_cast<unsigned long long>(signedValue);
}

// A conversion of a format, from after its %: a 0 flag, a width, its l's and its letter.
struct Conversion
{
    char pad;
    unsigned width;
    int longs;
    char letter;
};

Conversion ReadConversion(const char *&format)
{
    Conversion conversion = {*format == '0' ? '0' : ' ', 0, 0, 0};
    for (; *format >= '0' && *format <= '9'; ++format)
    {
        conversion.width = conversion.width * 10 + static_cast<unsigned>(*format - '0');
    }
    for (; *format == 'l'; ++format)
    {
        ++conversion.longs;
    }
    conversion.letter = *format;
    return conversion;
}

// Text written into a buffer of capacity bytes, counted in full but cut to fit with its terminator.
struct Output
{
    char *out;
    std::size_t capacity;
    std::size_t length;

    void Put(char ch)
    {
        if (length + 1 < capacity)
        {
            out[length] = ch;
        }
        ++length;
    }

    // text's count characters, padded to the conversion's width; zeros go after a sign.
    void PutPadded(const char *text, std::size_t count, const Conversion &conversion)
    {
        std::size_t next = 0;
        if (conversion.pad == '0' && count > 0 && text[0] == '-')
        {
            Put(text[next++]);
        }
        for (unsigned width = conversion.width; width > count; --width)
        {
            Put(conversion.pad);
        }
        for (; next < count; ++next)
        {
            Put(text[next]);
        }
    }
};

// Formats into out as printf does for what the stand-in formats: %d %u %x %X %s %c %%, with a 0 flag,
// a width and the l and ll lengths. Returns the length of the whole text; writes at most capacity - 1
// characters and a terminator.
int Format(char *out, std::size_t capacity, const char *format, va_list arguments)
{
    Output output = {out, capacity, 0};
    for (; *format != '\0'; ++format)
    {
        if (*format != '%' || format[1] == '\0')
        {
            output.Put(*format);
            continue;
        }
        const Conversion conversion = ReadConversion(++format);
        const char letter = conversion.letter;
        char digits[24];
        std::size_t count = 1;
        const char *text = digits;
        if (letter == 'd' || letter == 'u' || letter == 'x' || letter == 'X')
        {
            bool isNegative = false;
            const unsigned long long value =
                TakeNumber(arguments, conversion.longs, letter == 'd', isNegative);
            count =
                PutNumber(digits, value, letter == 'd' || letter == 'u' ? 10 : 16, letter == 'x', isNegative);
        }
        else if (letter == 's')
        {
            text = va_arg(arguments, const char *);
            count = std::strlen(text);
        }
        else
        {
            digits[0] = letter == 'c' ? static_cast<char>(va_arg(arguments, int)) : letter;
        }
        output.PutPadded(text, count, conversion);
    }
    if (capacity > 0)
    {
        out[output.length < capacity ? output.length : capacity - 1] = '\0';
    }
    return static_cast<int>(output.length);
}

// A digit's value in any base up to 36; 36 for anything else.
int DigitOf(char ch)
{
    if (ch >= '0' && ch <= '9')
    {
        return ch - '0';
    }
    if (ch >= 'a' && ch <= 'z')
    {
        return ch - 'a' + 10;
    }
    return ch >= 'A' && ch <= 'Z' ? ch - 'A' + 10 : 36;
}

int Print(FILE *stream, const char *format, va_list arguments)
{
    char text[4096];
    const int length = Format(text, sizeof text, format, arguments);
    WriteAll(stream, text, std::strlen(text));
    return length;
}

// Ends the run as the stand-in's refusals do, without the C++ library that failed.
[[noreturn]] void Stop(const char *why)
{
    std::fprintf(stderr, "error: %s\n", why);
    std::exit(2);
}

} // namespace

// The C library's functions, under its names; its headers name their parameters their own way.
// NOLINTBEGIN(readability-inconsistent-declaration-parameter-name)
extern "C"
{

FILE *stdout = kStandardOutput; // NOLINT: the C library's names
FILE *stderr = kStandardError;  // NOLINT
void *__dso_handle = nullptr;   // NOLINT(bugprone-reserved-identifier): the C++ ABI's names

// Before main: the environment, from the stack the process starts with (argc, argv, then the
// environment), and the constructors of the stand-in's objects.
void PrepareStandIn(long *stack)
{
    g_environment = reinterpret_cast<char **>(stack + 1 + stack[0] + 1);
    extern void (*__init_array_start[])(); // NOLINT(bugprone-reserved-identifier): the linker's names
    extern void (*__init_array_end[])();   // NOLINT(bugprone-reserved-identifier)
    for (void (**constructor)() = __init_array_start; constructor != __init_array_end; ++constructor)
    {
        (*constructor)();
    }
}

// Destructors at exit are not run: the stand-in's objects hold nothing the system does not reclaim.
// NOLINTNEXTLINE(bugprone-reserved-identifier)
int __cxa_atexit(void (* /*destructor*/)(void *), void * /*object*/, void * /*dso*/)
{
    return 0;
}

void exit(int status) noexcept
{
    SystemCall(kExitGroup, status);
    __builtin_unreachable();
}

int printf(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const int length = Print(kStandardOutput, format, arguments);
    va_end(arguments);
    return length;
}

int fprintf(FILE *stream, const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const int length = Print(stream, format, arguments);
    va_end(arguments);
    return length;
}

int snprintf(char *out, std::size_t capacity, const char *format, ...) noexcept
{
    va_list arguments;
    va_start(arguments, format);
    const int length = Format(out, capacity, format, arguments);
    va_end(arguments);
    return length;
}

std::size_t fwrite(const void *data, std::size_t size, std::size_t count, FILE *stream)
{
    WriteAll(stream, static_cast<const char *>(data), size * count);
    return count;
}

int open(const char *path, int flags, ...)
{
    return static_cast<int>(Result(SystemCall(kOpen, reinterpret_cast<long>(path), flags)));
}

ssize_t read(int file, void *buffer, std::size_t size)
{
    return Result(SystemCall(kRead, file, reinterpret_cast<long>(buffer), static_cast<long>(size)));
}

int close(int file)
{
    return static_cast<int>(Result(SystemCall(kClose, file)));
}

void *mmap(void *address, std::size_t size, int protection, int flags, int file, off_t offset) noexcept
{
    const long result = SystemCall(kMmap2, reinterpret_cast<long>(address), static_cast<long>(size),
                                   protection, flags, file, static_cast<long>(offset / 4096));
    return Result(result) == -1 ? MAP_FAILED : reinterpret_cast<void *>(result);
}

int mprotect(void *address, std::size_t size, int protection) noexcept
{
    return static_cast<int>(
        Result(SystemCall(kMprotect, reinterpret_cast<long>(address), static_cast<long>(size), protection)));
}

char *getenv(const char *name) noexcept
{
    const std::size_t length = std::strlen(name);
    for (char **entry = g_environment; entry != nullptr && *entry != nullptr; ++entry)
    {
        if (std::strncmp(*entry, name, length) == 0 && (*entry)[length] == '=')
        {
            return *entry + length + 1;
        }
    }
    return nullptr;
}

// Without a sign; a number too large gives the largest, as the C library's does.
unsigned long strtoul(const char *text, char **end, int base) noexcept
{
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
    {
        ++text;
    }
    if (base == 0)
    {
        base = text[0] != '0' ? 10 : (text[1] == 'x' || text[1] == 'X') ? 16 : 8;
    }
    if (base == 16 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    {
        text += 2;
    }
    unsigned long value = 0;
    constexpr unsigned long kLargest = ~0UL;
    for (int digit = 0; (digit = DigitOf(*text)) < base; ++text)
    {
        const auto wide = static_cast<unsigned long>(base);
        value = value > (kLargest - static_cast<unsigned long>(digit)) / wide
                    ? kLargest
                    : value * wide + static_cast<unsigned long>(digit);
    }
    if (end != nullptr)
    {
        *end = const_cast<char *>(text);
    }
    return value;
}

int toupper(int ch) noexcept
{
    return ch >= 'a' && ch <= 'z' ? ch - 'a' + 'A' : ch;
}

int strcasecmp(const char *left, const char *right) noexcept
{
    for (;; ++left, ++right)
    {
        const int difference =
            toupper(static_cast<unsigned char>(*left)) - toupper(static_cast<unsigned char>(*right));
        if (difference != 0 || *left == '\0')
        {
            return difference;
        }
    }
}

int strncmp(const char *left, const char *right, std::size_t size) noexcept
{
    for (; size > 0; --size, ++left, ++right)
    {
        if (*left != *right || *left == '\0')
        {
            return static_cast<unsigned char>(*left) - static_cast<unsigned char>(*right);
        }
    }
    return 0;
}

int strcmp(const char *left, const char *right) noexcept
{
    return strncmp(left, right, static_cast<std::size_t>(-1));
}

std::size_t strlen(const char *text) noexcept
{
    std::size_t length = 0;
    while (text[length] != '\0')
    {
        ++length;
    }
    return length;
}

std::size_t wcslen(const wchar_t *text) noexcept
{
    std::size_t length = 0;
    while (text[length] != L'\0')
    {
        ++length;
    }
    return length;
}

void *memmove(void *to, const void *from, std::size_t size) noexcept
{
    auto *out = static_cast<unsigned char *>(to);
    const auto *in = static_cast<const unsigned char *>(from);
    if (out < in)
    {
        for (std::size_t i = 0; i < size; ++i)
        {
            out[i] = in[i];
        }
    }
    else
    {
        for (std::size_t i = size; i > 0; --i)
        {
            out[i - 1] = in[i - 1];
        }
    }
    return to;
}

void *memcpy(void *to, const void *from, std::size_t size) noexcept
{
    return memmove(to, from, size);
}

void *memset(void *to, int value, std::size_t size) noexcept
{
    auto *out = static_cast<unsigned char *>(to);
    for (std::size_t i = 0; i < size; ++i)
    {
        out[i] = static_cast<unsigned char>(value);
    }
    return to;
}

} // extern "C"
// NOLINTEND(readability-inconsistent-declaration-parameter-name)

// The C library's memchr, which its header declares as two C++ overloads of one C function.
extern "C" void *StandInMemchr(const void *data, int value, std::size_t size) noexcept asm("memchr");
void *StandInMemchr(const void *data, int value, std::size_t size) noexcept
{
    const auto *bytes = static_cast<const unsigned char *>(data);
    for (std::size_t i = 0; i < size; ++i)
    {
        if (bytes[i] == static_cast<unsigned char>(value))
        {
            return const_cast<unsigned char *>(bytes + i);
        }
    }
    return nullptr;
}

// The process starts here, with the stack pointer at argc: PrepareStandIn, then exit(main(argc, argv)).
asm(R"(
    .text
    .global _start
_start:
    mov r15, r8
    mov.l 1f, r0
    jsr @r0
    mov r15, r4
    mov.l @r8, r4
    mov r8, r5
    mov.l 2f, r0
    jsr @r0
    add #4, r5
    mov.l 3f, r1
    jsr @r1
    mov r0, r4
    .balign 4
1:  .long PrepareStandIn
2:  .long main
3:  .long exit
)");

void *operator new(std::size_t size)
{
    const std::size_t start = (g_heapUsed + 15) & ~std::size_t{15};
    if (size > sizeof g_heap - start)
    {
        Stop("the stand-in ran out of memory");
    }
    g_heapUsed = start + size;
    return g_heap + start;
}

void *operator new[](std::size_t size)
{
    return operator new(size);
}

void operator delete(void * /*memory*/) noexcept {}
void operator delete(void * /*memory*/, std::size_t /*size*/) noexcept {}
void operator delete[](void * /*memory*/) noexcept {}
void operator delete[](void * /*memory*/, std::size_t /*size*/) noexcept {}

// The C++ library's errors, which a correct stand-in never meets. The names are the library's.
namespace std
{
void __throw_length_error(const char *what) // NOLINT(bugprone-reserved-identifier)
{
    Stop(what);
}
void __throw_logic_error(const char *what) // NOLINT(bugprone-reserved-identifier)
{
    Stop(what);
}
void __throw_bad_alloc() // NOLINT(bugprone-reserved-identifier)
{
    Stop("bad_alloc");
}
void __throw_bad_array_new_length() // NOLINT(bugprone-reserved-identifier)
{
    Stop("bad_array_new_length");
}
void __throw_out_of_range_fmt(const char *what, ...) // NOLINT(bugprone-reserved-identifier)
{
    Stop(what);
}
// NOLINTNEXTLINE(bugprone-reserved-identifier)
void __glibcxx_assert_fail(const char * /*file*/, int /*line*/, const char * /*function*/,
                           const char *condition) noexcept
{
    Stop(condition);
}
} // namespace std
