// The Windows formatter as the program relies on it: %d, %s, %%, and nothing else.
#include <windows.h>

#include <cstdarg>
#include <cstddef>

namespace
{

// Windows' own limit for wsprintfW, terminator included.
constexpr std::size_t kOutputLimit = 1024;

class Output
{
  public:
    explicit Output(LPWSTR buffer) : start_(buffer), next_(buffer), last_(buffer + kOutputLimit - 1) {}

    void Put(WCHAR ch)
    {
        if (next_ != last_)
        {
            *next_++ = ch;
        }
    }

    void Put(LPCWSTR text)
    {
        while (*text != 0 && next_ != last_)
        {
            *next_++ = *text++;
        }
    }

    // Through an unsigned magnitude, so INT_MIN needs no special case.
    void PutDecimal(int value)
    {
        auto magnitude = static_cast<std::uint32_t>(value);
        if (value < 0)
        {
            Put(u'-');
            magnitude = 0U - magnitude;
        }
        WCHAR digits[10];
        int count = 0;
        do
        {
            digits[count++] = static_cast<WCHAR>(u'0' + magnitude % 10U);
            magnitude /= 10U;
        } while (magnitude != 0U);
        while (count > 0)
        {
            Put(digits[--count]);
        }
    }

    int Finish()
    {
        *next_ = 0;
        return static_cast<int>(next_ - start_);
    }

  private:
    LPWSTR start_;
    LPWSTR next_;
    LPWSTR last_; // where the terminator goes when the output is full
};

int Format(LPWSTR out, LPCWSTR format, va_list args)
{
    Output output(out);
    for (LPCWSTR fmt = format; *fmt != 0; ++fmt)
    {
        if (*fmt != u'%')
        {
            output.Put(*fmt);
            continue;
        }
        switch (fmt[1])
        {
        case u'd':
            output.PutDecimal(va_arg(args, int));
            ++fmt;
            break;
        case u's':
            output.Put(va_arg(args, LPCWSTR));
            ++fmt;
            break;
        case u'%':
            output.Put(u'%');
            ++fmt;
            break;
        default: // unsupported: copied through as it stands
            output.Put(u'%');
            break;
        }
    }
    return output.Finish();
}

} // namespace

int WINAPIV wsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, ...)
{
    va_list args;
    va_start(args, lpFmt);
    const int written = Format(lpOut, lpFmt, args);
    va_end(args);
    return written;
}
