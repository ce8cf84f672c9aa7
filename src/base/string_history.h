// Newest-first list of earlier entries offered by the line editors.
#pragma once

#include <mutex>
#include <string>
#include <vector>

// The process-wide histories are appended to by session threads while prompts
// on other threads take copies, so every member takes the internal lock.
// Copies are independent values; a prompt edits its own copy unlocked in
// practice, but the lock keeps that safe too.
class TStringHistory {
  public:
    TStringHistory() = default;
    TStringHistory(const TStringHistory& other);
    TStringHistory& operator=(const TStringHistory& other);

    // Unless locked: the text becomes the newest entry and the position 0.
    void Add(const std::string& text);
    void Older();
    void Newer();
    // The entry at the position, or "" past the last entry.
    std::string Current() const;
    void Clear();

    void SetLocked(bool locked);
    bool IsLocked() const;
    int Position() const;
    int Count() const;

  private:
    mutable std::mutex lock_;
    std::vector<std::string> entries_;  // newest first
    int position_ = 0;
    bool locked_ = false;
};
