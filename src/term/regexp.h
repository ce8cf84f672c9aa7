// The small regular-expression engine the termcap reader recognises lines with.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Dialect (patterns are written "/body/flags", flags "i" and "x"):
// - postfix marks bind the single item before them: "a|b" chooses between the
//   items a and b only, "(x)?:" makes a group non-capturing, "x?=" / "x?!" are
//   look-ahead, "x?#d" / "x?~d" look-behind d bytes;
// - escapes \d \D \w \W \s \S \u \l over code page 866, \b \B \c word tests,
//   \m \M move the start / end of the whole match, \1.. back-references;
// - counted repetition {m} {m,} {m,n}, lazy with a trailing "?".
//
// Matching is a leftmost backtracking search over a copy of the text in a
// 1024-byte work buffer, so a text is cut at 1023 bytes. Repetitions collect
// their iterations in a loop (each iteration is the first way the item matches
// there) and backtrack over iteration boundaries; the recursion depth is
// bounded by the size of the pattern, never by the length of the text.
//
// One object is not safe for concurrent use: a match keeps its state inside.
class TRegExp {
  public:
    static constexpr int kWorkSize = 1024;
    static constexpr int kMaxCaptures = 16;

    TRegExp();
    explicit TRegExp(const std::string& pattern);
    ~TRegExp();
    TRegExp(const TRegExp&) = delete;
    TRegExp& operator=(const TRegExp&) = delete;

    // Replaces the compiled pattern; returns the new valid flag. Never throws.
    bool Compile(const std::string& pattern);
    bool IsValid() const { return valid_; }

    // Searches the text. On success the list is replaced by the texts of the
    // captures 0..group count (unset ones empty) and true is returned; on
    // failure the list is left as it was. Raises "bad RegExp" when invalid.
    bool Match(const std::string& text, std::vector<std::string>& captures);

    // Offsets of a capture of the last successful match in the (cut) text;
    // -1 when unset or out of range.
    int MatchStart(int index) const;
    int MatchEnd(int index) const;

    // The text without leading and trailing blanks and tabs.
    static std::string Trim(const std::string& text);

    struct Node;

  private:
    struct Cont;
    bool Run(const Node* node, int pos, const Cont* cont);
    bool Resume(int pos, const Cont* cont);
    int MatchItem(const Node* node, int pos);
    bool TestAtom(const Node* node, int pos) const;
    bool RepeatGreedy(const Node* node, int pos, const Cont* cont);
    bool RepeatLazy(const Node* node, int pos, const Cont* cont);
    bool LookAround(const Node* node, int pos, const Cont* cont);
    void SaveCaptures();
    void LoadCaptures(size_t at);

    std::unique_ptr<Node> root_;
    bool icase_ = false;
    bool extended_ = false;
    bool valid_ = false;
    int groups_ = 0;  // highest capture index in use

    // Match state.
    unsigned char text_[kWorkSize];
    int text_end_ = 0;
    int item_end_ = 0;
    long steps_left_ = 0;
    int16_t start_[kMaxCaptures];
    int16_t end_[kMaxCaptures];
    std::vector<uint16_t> marks_;     // iteration ends of the open repetitions
    std::vector<int16_t> snapshots_;  // saved capture tables, same discipline
};
