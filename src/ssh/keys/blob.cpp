#include "ssh/keys/blob.h"

#include <openssl/crypto.h>

bool BlobReader::GetByte(uint8_t* out) {
    if (!ok_ || left_ < 1) return Fail();
    *out = *data_++;
    --left_;
    return true;
}

bool BlobReader::GetBool(bool* out) {
    uint8_t byte = 0;
    if (!GetByte(&byte)) return false;
    *out = byte != 0;
    return true;
}

bool BlobReader::GetU32(uint32_t* out) {
    if (!ok_ || left_ < 4) return Fail();
    *out = (uint32_t{data_[0]} << 24) | (uint32_t{data_[1]} << 16) | (uint32_t{data_[2]} << 8) |
           uint32_t{data_[3]};
    data_ += 4;
    left_ -= 4;
    return true;
}

bool BlobReader::GetRaw(std::size_t n, const uint8_t** bytes) {
    if (!ok_ || left_ < n) return Fail();
    *bytes = data_;
    data_ += n;
    left_ -= n;
    return true;
}

bool BlobReader::GetString(const uint8_t** bytes, uint32_t* length) {
    uint32_t n = 0;
    if (!GetU32(&n) || !GetRaw(n, bytes)) return false;
    *length = n;
    return true;
}

bool BlobReader::GetString(Blob* out) {
    const uint8_t* bytes = nullptr;
    uint32_t n = 0;
    if (!GetString(&bytes, &n)) return false;
    out->assign(bytes, bytes + n);
    return true;
}

bool BlobReader::GetString(std::string* out) {
    const uint8_t* bytes = nullptr;
    uint32_t n = 0;
    if (!GetString(&bytes, &n)) return false;
    out->assign(reinterpret_cast<const char*>(bytes), n);
    return true;
}

void BlobWriter::PutU32(uint32_t value) {
    bytes_.push_back(static_cast<uint8_t>(value >> 24));
    bytes_.push_back(static_cast<uint8_t>(value >> 16));
    bytes_.push_back(static_cast<uint8_t>(value >> 8));
    bytes_.push_back(static_cast<uint8_t>(value));
}

void BlobWriter::PutString(const uint8_t* bytes, std::size_t length) {
    PutU32(static_cast<uint32_t>(length));
    PutRaw(bytes, length);
}

void BlobWriter::PutString(std::string_view text) {
    PutString(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

void BlobWriter::PutMpint(const uint8_t* magnitude, std::size_t length) {
    while (length > 0 && magnitude[0] == 0) {
        ++magnitude;
        --length;
    }
    const bool pad = length > 0 && (magnitude[0] & 0x80) != 0;
    PutU32(static_cast<uint32_t>(length + (pad ? 1 : 0)));
    if (pad) PutByte(0);
    PutRaw(magnitude, length);
}

void BlobWriter::PutRaw(const uint8_t* bytes, std::size_t length) {
    if (length > 0) bytes_.insert(bytes_.end(), bytes, bytes + length);
}

void WipeBytes(Blob* bytes) {
    if (!bytes->empty()) OPENSSL_cleanse(bytes->data(), bytes->size());
    bytes->clear();
}

void WipeString(std::string* text) {
    if (!text->empty()) OPENSSL_cleanse(text->data(), text->size());
    text->clear();
}
