#pragma once

#include <QLineEdit>

namespace sayloft::test {

// The receiving application of the typing and paste tests (the test binary run with
// --text-field): one line edit in a top-level window that takes the input focus. It writes
// "ready" on stdout once it has the focus, then "text <hex of the UTF-8 text>" after every
// change, one line each.
class TextFieldWindow : public QLineEdit {
public:
    void start();
};

}  // namespace sayloft::test
