// The base script commands: tabs, buttons, popups, typing, time, dumps, settings.
#include "shells/script/Script.h"

#include "kit/ui/Application.h"
#include "kit/ui/Button.h"
#include "kit/ui/Popup.h"
#include "kit/ui/TabBarController.h"
#include "kit/ui/TextField.h"
#include "kit/core/UserDefaults.h"
#include "kit/ui/Window.h"

#include <ostream>

namespace script {

namespace {


// A view moved out of the window (a panel slid away) cannot be touched.
bool onScreen(const kit::View& v)
{
    auto r = v.convertToAncestor(nullptr);
    auto screen = kit::Window::screenBounds();
    return r.maxX() > screen.x() && r.maxY() > screen.y() && r.x() < screen.maxX() && r.y() < screen.maxY();
}

template<typename T>
T* findVisible(kit::View& v, const std::function<bool(T&)>& match)
{
    if (v.isHidden() || v.alpha() < 0.01f)
        return nullptr;
    // Front-most first: later subviews lie on top.
    auto& subs = v.subviews();
    for (auto it = subs.rbegin(); it != subs.rend(); ++it)
        if (auto* found = findVisible<T>(**it, match))
            return found;
    if (auto* t = dynamic_cast<T*>(&v); t && onScreen(v) && match(*t))
        return t;
    return nullptr;
}

void requireNoPopup(Script& s, const char* what)
{
    if (auto* p = s.app().frontPopup())
        throw ScriptError(std::string("a ") + p->className() + " (\"" + p->title() + "\") is in front; answer it before " + what);
}

kit::TextField* typingTarget(Script& s)
{
    // An alert that holds an entry field takes the typing.
    if (auto* popup = s.app().frontPopup()) {
        if (auto* field = popup->textField()) {
            if (!field->isFirstResponder())
                field->becomeFirstResponder();
            return field;
        }
    }
    if (auto* field = kit::TextField::firstResponder(); field && field->window())
        return field;
    auto* field = findVisible<kit::TextField>(s.frontScreen(), [](kit::TextField&) { return true; });
    if (!field)
        throw ScriptError("there is no text field to type into");
    field->becomeFirstResponder();
    return field;
}

} // namespace

void addBaseCommands(Script& script)
{
    script.add("tab", "tab N             select tab N (0-3) of the tab bar", [](Script& s, const std::string& arg) {
        requireNoPopup(s, "changing tabs");
        int index = parseIndex(arg, "the tab");
        auto* bar = findVisible<kit::TabBar>(s.frontScreen(), [](kit::TabBar&) { return true; });
        if (!bar)
            throw ScriptError("no tab bar on the front screen");
        if (index < 0 || index >= int(bar->itemTitles().size()))
            throw ScriptError("there is no tab " + arg);
        if (bar->onSelect)
            bar->onSelect(index);
    });

    script.add("tap", "tap TITLE         tap the button or tab bar item titled TITLE on the front screen",
        [](Script& s, const std::string& title) {
            requireNoPopup(s, "tapping");
            auto& front = s.frontScreen();
            if (auto* button = findVisible<kit::Button>(front, [&](kit::Button& b) { return b.title() == title; })) {
                if (!button->isEnabled())
                    throw ScriptError("the button \"" + title + "\" is disabled");
                button->sendAction();
                return;
            }
            if (auto* bar = findVisible<kit::TabBar>(front, [](kit::TabBar&) { return true; })) {
                auto& titles = bar->itemTitles();
                for (size_t i = 0; i < titles.size(); ++i)
                    if (titles[i] == title && bar->onSelect) {
                        bar->onSelect(int(i));
                        return;
                    }
            }
            throw ScriptError("no button or tab titled \"" + title + "\" on the front screen");
        });

    script.add("answer", "answer N          press button N of the front alert or action sheet",
        [](Script& s, const std::string& arg) {
            int index = parseIndex(arg, "the button");
            auto* popup = s.app().frontPopup();
            if (!popup)
                throw ScriptError("no alert or action sheet is shown");
            if (index < 0 || index >= popup->numberOfButtons())
                throw ScriptError("the " + popup->className() + " has no button " + arg);
            popup->dismissWithClickedButtonIndex(index, true);
        });

    script.add("alert", "alert             print the front alert or action sheet", [](Script& s, const std::string&) {
        auto* popup = s.app().frontPopup();
        if (!popup) {
            s.out() << "no alert\n";
            return;
        }
        s.out() << popup->className() << " title=\"" << escapeText(popup->title()) << "\" message=\"" << escapeText(popup->message()) << "\"\n";
        for (int i = 0; i < popup->numberOfButtons(); ++i)
            s.out() << "  " << i << ": " << popup->buttonTitleAtIndex(i) << (i == popup->cancelButtonIndex() ? " (cancel)" : "") << '\n';
        if (auto* field = popup->textField())
            s.out() << "  field: \"" << escapeText(field->text()) << "\"\n";
    });

    script.add("type", "type TEXT         type TEXT into the focused text field", [](Script& s, const std::string& text) {
        typingTarget(s)->insertText(text);
    });

    script.add("return", "return            press the return key in the focused text field", [](Script& s, const std::string&) {
        typingTarget(s)->pressReturn();
    });

    script.add("wait", "wait SECONDS      let time pass (virtual time with --virtual-time)", [](Script& s, const std::string& arg) {
        s.wait(parseNumber(arg, "the time"));
    });

    script.add("until", "until [SECONDS] TEXT  run until TEXT shows on the front screen or its alert (default 60 s real time)",
        [](Script& s, const std::string& arg) {
            double limit = 60;
            std::string text = arg;
            auto space = arg.find(' ');
            if (space != std::string::npos && arg.find_first_not_of("0123456789.") == space) {
                limit = parseNumber(arg.substr(0, space), "the time limit");
                text = arg.substr(space + 1);
            }
            bool ok = s.runUntil([&] {
                if (auto* popup = s.app().frontPopup(); popup && (popup->title() + "\n" + popup->message()).find(text) != std::string::npos)
                    return true;
                return s.dump(s.frontScreen()).find(text) != std::string::npos;
            }, limit);
            if (!ok)
                throw ScriptError("\"" + text + "\" did not show within " + std::to_string(int(limit)) + " s");
        });

    script.add("resize", "resize W H        give the screen W x H points (a window resized, a phone turned)", [](Script& s, const std::string& arg) {
        auto first = arg.find_first_not_of(' ');
        auto size = parseScreenSize(first == std::string::npos ? arg : arg.substr(first));
        if (s.onResize)
            s.onResize(size);
        else
            kit::Window::setScreenSize(size);
    });

    script.add("dump", "dump              print the front screen's view tree", [](Script& s, const std::string&) {
        s.out() << s.dump(s.frontScreen());
    });

    script.add("defaults", "defaults          print the stored settings", [](Script& s, const std::string&) {
        for (auto& [k, v] : kit::UserDefaults::standard().dictionary())
            s.out() << k << " = " << v << '\n';
    });

    script.add("set", "set KEY VALUE     store VALUE under KEY in the stored settings", [](Script&, const std::string& arg) {
        auto space = arg.find(' ');
        if (arg.empty() || space == 0)
            throw ScriptError("usage: set KEY VALUE");
        kit::UserDefaults::standard().setObject(space == std::string::npos ? "" : arg.substr(space + 1), arg.substr(0, space));
    });

    script.add("suspend", "suspend           the platform's suspend request (the user leaves)", [](Script& s, const std::string&) {
        s.app().applicationSuspend(&s.app());
    });

    script.add("echo", "echo TEXT         print TEXT", [](Script& s, const std::string& text) {
        s.out() << text << '\n';
    });

    script.add("quit", "quit              end the application and the script", [](Script& s, const std::string&) {
        s.app().terminate();
        s.finish();
    });
}

} // namespace script
