#include "base/string_history.h"

TStringHistory::TStringHistory(const TStringHistory& other) {
    std::lock_guard<std::mutex> guard(other.lock_);
    entries_ = other.entries_;
    position_ = other.position_;
    locked_ = other.locked_;
}

TStringHistory& TStringHistory::operator=(const TStringHistory& other) {
    if (this == &other) return *this;
    std::scoped_lock guard(lock_, other.lock_);
    entries_ = other.entries_;
    position_ = other.position_;
    locked_ = other.locked_;
    return *this;
}

void TStringHistory::Add(const std::string& text) {
    std::lock_guard<std::mutex> guard(lock_);
    if (locked_) return;
    entries_.insert(entries_.begin(), text);
    position_ = 0;
}

void TStringHistory::Older() {
    std::lock_guard<std::mutex> guard(lock_);
    if (position_ + 1 < static_cast<int>(entries_.size())) ++position_;
}

void TStringHistory::Newer() {
    std::lock_guard<std::mutex> guard(lock_);
    if (position_ > 0) --position_;
}

std::string TStringHistory::Current() const {
    std::lock_guard<std::mutex> guard(lock_);
    if (position_ < static_cast<int>(entries_.size())) return entries_[position_];
    return std::string();
}

void TStringHistory::Clear() {
    std::lock_guard<std::mutex> guard(lock_);
    entries_.clear();
    position_ = 0;
}

void TStringHistory::SetLocked(bool locked) {
    std::lock_guard<std::mutex> guard(lock_);
    locked_ = locked;
}

bool TStringHistory::IsLocked() const {
    std::lock_guard<std::mutex> guard(lock_);
    return locked_;
}

int TStringHistory::Position() const {
    std::lock_guard<std::mutex> guard(lock_);
    return position_;
}

int TStringHistory::Count() const {
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<int>(entries_.size());
}
