#include "platform/posix/IconvCodepage.h"

#include <iconv.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <string>

namespace varnel {

namespace {

// One open iconv conversion descriptor.
class Converter {
  public:
    Converter(const char* to, const char* from) : cd_(::iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) {
            ::iconv_close(cd_);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

  private:
    iconv_t cd_;
};

const char* nativeUtf16() {
    return std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
}

bool isLeadByte(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
bool isTrailByte(unsigned char b) {
    return b >= 0x40 && b <= 0xFC && b != 0x7F;
}

// One converter for any number of pieces.
class IconvCp932Decoder : public Cp932Decoder {
  public:
    IconvCp932Decoder() : converter_(nativeUtf16(), "CP932") {}
    bool ok() const { return converter_.ok(); }

    Status append(std::string_view bytes, std::u16string& out) override {
        // Bytes below 0x80 before the first other byte are characters of their own, each its ASCII
        // character in this code page: they are widened directly, which makes ASCII files as fast to
        // read as UTF-8 ones. The rest goes through iconv.
        std::size_t ascii = 0;
        while (ascii < bytes.size() && static_cast<unsigned char>(bytes[ascii]) < 0x80) {
            ++ascii;
        }
        out.append(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(ascii));
        bytes.remove_prefix(ascii);

        // Units go through a small buffer: only the memory the text needs is touched.
        constexpr std::size_t BufferUnits = 8192;
        char16_t buffer[BufferUnits];
        char* in = const_cast<char*>(bytes.data());  // iconv never writes through it
        std::size_t inLeft = bytes.size();

        while (inLeft > 0) {
            char* outPtr = reinterpret_cast<char*>(buffer);
            std::size_t outLeft = sizeof buffer;
            const std::size_t rc = ::iconv(converter_.get(), &in, &inLeft, &outPtr, &outLeft);
            const int error = errno;
            out.append(buffer,
                       static_cast<std::size_t>(outPtr - reinterpret_cast<char*>(buffer)) / sizeof(char16_t));
            if (rc != static_cast<std::size_t>(-1) || error == E2BIG) {
                continue;  // done, or the buffer is full
            }
            if (error != EILSEQ && error != EINVAL) {
                return Status::failure(std::string("iconv CP932: ") + std::strerror(error));
            }
            // Replace what could not be converted and go on after it.
            const auto lead = static_cast<unsigned char>(in[0]);
            const std::size_t skip =
                inLeft >= 2 && isLeadByte(lead) && isTrailByte(static_cast<unsigned char>(in[1])) ? 2 : 1;
            out += u'\uFFFD';
            in += skip;
            inLeft -= skip;
            ::iconv(converter_.get(), nullptr, nullptr, nullptr, nullptr);
        }
        return Status::success();
    }

  private:
    Converter converter_;
};

}  // namespace

std::unique_ptr<Cp932Decoder> IconvCodepage::cp932Decoder() const {
    auto decoder = std::make_unique<IconvCp932Decoder>();
    if (!decoder->ok()) {
        return nullptr;
    }
    return decoder;
}

Result<std::u16string> IconvCodepage::decodeCp932(std::string_view bytes) const {
    IconvCp932Decoder decoder;
    if (!decoder.ok()) {
        return Result<std::u16string>::failure(std::string("iconv CP932: ") + std::strerror(errno));
    }
    // Every byte or byte pair gives one UTF-16 unit, so the reservation is normally enough.
    std::u16string out;
    out.reserve(bytes.size());
    if (const Status done = decoder.append(bytes, out); !done) {
        return Result<std::u16string>::failure(done.error());
    }
    return Result<std::u16string>::success(std::move(out));
}

}  // namespace varnel
