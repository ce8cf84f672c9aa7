// How the SSH-2 login reaches the user while it runs: the session's
// in-session prompt and its screen. Implemented by the session; the login
// calls it from the session thread only.
#pragma once

#include <string>

class Ssh2AuthPrompter {
  public:
    virtual ~Ssh2AuthPrompter() = default;
    // Shows text from or about the server on its own line(s). The text has
    // been cleaned of control characters; lines are separated by '\n'.
    virtual void Show(const std::string& text) = 0;
    // Asks for one line. With `may_cancel`, ESC makes it return false;
    // without, ESC ends the session as at the login prompts and it does not
    // return.
    virtual bool Ask(const std::string& prompt, bool echo, bool may_cancel,
                     std::string* answer) = 0;
};
