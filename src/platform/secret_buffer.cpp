#include "platform/secret_buffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

#include <cstring>
#include <utility>

#include <openssl/crypto.h>

namespace tessal::platform {

SecretBuffer::SecretBuffer(std::size_t capacity)
    : bytes_(capacity > 0 ? new char[capacity] : nullptr), capacity_(capacity) {
    // Best effort: a process over its locked-memory limit still works, the
    // page may then reach swap.
    if (bytes_) locked_ = ::mlock(bytes_.get(), capacity_) == 0;
}

SecretBuffer::~SecretBuffer() { release(); }

SecretBuffer::SecretBuffer(SecretBuffer&& other) noexcept
    : bytes_(std::move(other.bytes_)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      locked_(std::exchange(other.locked_, false)) {}

SecretBuffer& SecretBuffer::operator=(SecretBuffer&& other) noexcept {
    if (this != &other) {
        release();
        bytes_ = std::move(other.bytes_);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
        locked_ = std::exchange(other.locked_, false);
    }
    return *this;
}

SecretBuffer SecretBuffer::of(std::string_view text) {
    SecretBuffer buffer(text.size());
    buffer.append(text.data(), text.size());
    return buffer;
}

bool SecretBuffer::append(const char* bytes, std::size_t size) {
    if (size > capacity_ - size_) return false;
    if (size > 0) std::memcpy(bytes_.get() + size_, bytes, size);
    size_ += size;
    return true;
}

void SecretBuffer::fillFrom(int fd) {
    while (size_ < capacity_) {
        const ssize_t n = ::read(fd, bytes_.get() + size_, capacity_ - size_);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        size_ += static_cast<std::size_t>(n);
    }
}

void SecretBuffer::clear() { truncate(0); }

void SecretBuffer::truncate(std::size_t size) {
    if (size >= size_) return;
    OPENSSL_cleanse(bytes_.get() + size, size_ - size);
    size_ = size;
}

void SecretBuffer::release() {
    if (!bytes_) return;
    OPENSSL_cleanse(bytes_.get(), capacity_);
    if (locked_) ::munlock(bytes_.get(), capacity_);
    bytes_.reset();
    size_ = capacity_ = 0;
    locked_ = false;
}

}  // namespace tessal::platform
