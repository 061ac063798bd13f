#pragma once
// The desktop's on-screen keyboard, through Qt's input method: a text field
// asks for it when it takes the keyboard and lets it go after Return, or when
// the keyboard leaves it for no other field (its alert ended, it resigned).
// A desktop without such a keyboard ignores the requests.
namespace qtshell::InputPanel {

void request();
void release();
// What the fields asked for last: the panel itself belongs to the desktop.
bool isRequested();

} // namespace qtshell::InputPanel
