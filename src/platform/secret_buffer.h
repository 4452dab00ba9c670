#pragma once
// Bytes that must not outlive their use (PINs): one allocation of a fixed
// capacity, never moved or grown behind the holder's back, locked in memory
// where the system allows it and wiped when cleared or destroyed. Copies
// are explicit (`copy`), so no stray duplicate is left in freed memory.
#include <cstddef>
#include <memory>
#include <string_view>

namespace tessal::platform {

class SecretBuffer {
public:
    SecretBuffer() = default;
    // Room for `capacity` bytes; nothing more is ever stored.
    explicit SecretBuffer(std::size_t capacity);
    ~SecretBuffer();
    SecretBuffer(SecretBuffer&& other) noexcept;
    SecretBuffer& operator=(SecretBuffer&& other) noexcept;
    SecretBuffer(const SecretBuffer&) = delete;
    SecretBuffer& operator=(const SecretBuffer&) = delete;

    // A buffer holding exactly `text`.
    static SecretBuffer of(std::string_view text);
    SecretBuffer copy() const { return of(view()); }

    // False, storing nothing, when the bytes do not fit.
    bool append(const char* bytes, std::size_t size);
    bool append(char c) { return append(&c, 1); }
    // Reads from `fd` straight into the room left, until it is full or the
    // descriptor ends or fails; no copy of the bytes stays anywhere else.
    void fillFrom(int fd);
    // Wipes the content; the capacity stays.
    void clear();
    // Keeps the first `size` bytes and wipes the rest.
    void truncate(std::size_t size);

    char* data() { return bytes_.get(); }
    const char* data() const { return bytes_.get(); }
    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    bool empty() const { return size_ == 0; }
    std::string_view view() const { return {bytes_.get(), size_}; }

private:
    void release();

    std::unique_ptr<char[]> bytes_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    bool locked_ = false;
};

}  // namespace tessal::platform
