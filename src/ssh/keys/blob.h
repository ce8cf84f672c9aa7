// Reading and writing the SSH wire encodings (RFC 4251 section 5) on plain
// byte vectors, for data that comes from files, the agent or a server and is
// parsed before anything trusts it.
//
// The reader never reads past its end: every getter returns false instead,
// and a reader that failed once stays failed, so a parser can check once
// after a run of reads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using Blob = std::vector<uint8_t>;

class BlobReader {
  public:
    BlobReader(const uint8_t* data, std::size_t length) : data_(data), left_(length) {}
    explicit BlobReader(const Blob& bytes) : BlobReader(bytes.data(), bytes.size()) {}

    bool GetByte(uint8_t* out);
    bool GetBool(bool* out);
    bool GetU32(uint32_t* out);
    // A string's bytes, pointing into the reader's data.
    bool GetString(const uint8_t** bytes, uint32_t* length);
    bool GetString(Blob* out);
    bool GetString(std::string* out);
    // Raw bytes without a length.
    bool GetRaw(std::size_t n, const uint8_t** bytes);

    std::size_t Left() const { return left_; }
    bool Ok() const { return ok_; }
    bool AtEnd() const { return ok_ && left_ == 0; }

  private:
    bool Fail() {
        ok_ = false;
        left_ = 0;
        return false;
    }
    const uint8_t* data_;
    std::size_t left_;
    bool ok_ = true;
};

class BlobWriter {
  public:
    void PutByte(uint8_t value) { bytes_.push_back(value); }
    void PutU32(uint32_t value);
    void PutString(const uint8_t* bytes, std::size_t length);
    void PutString(const Blob& bytes) { PutString(bytes.data(), bytes.size()); }
    void PutString(std::string_view text);
    // An mpint (RFC 4251) from an unsigned big-endian magnitude: leading
    // zeros dropped, a zero byte added when the top bit is set.
    void PutMpint(const uint8_t* magnitude, std::size_t length);
    void PutRaw(const uint8_t* bytes, std::size_t length);

    const Blob& bytes() const { return bytes_; }
    Blob Take() { return std::move(bytes_); }

  private:
    Blob bytes_;
};

// Overwrites the bytes before they are released.
void WipeBytes(Blob* bytes);
void WipeString(std::string* text);
