#pragma once
// How the plug-in's windows ask and wait: modal dialogs, message boxes, the
// Yes/No question and the input box. Each is a replaceable function so tests
// answer in place of a person and nothing waits on an event loop.
//
// canShow() is false where no window can appear: no widget application (a
// program without a display runs on a plain core application) or a platform
// that draws nowhere ("offscreen", "minimal"). The defaults then open nothing
// and return at once: exec answers Rejected, question answers No, input
// answers an empty text.

#include <QDialog>
#include <QString>
#include <functional>

class QWidget;

class ModalUi {
public:
    enum class Icon { Critical, Information };

    struct Hooks {
        std::function<int(QDialog& dialog)> exec;
        std::function<void(QWidget* parent, const QString& text, Icon icon)> message;
        std::function<bool(QWidget* parent, const QString& text)> askYesNo;
        std::function<QString(QWidget* parent, const QString& prompt, const QString& title)> input;
    };
    // The functions in use; a test replaces them, reset() restores the defaults.
    static Hooks& hooks();
    static void reset();

    static bool canShow();
    // Whether widgets may be created at all (a widget application exists).
    static bool widgetsAvailable();

    static int exec(QDialog& dialog) { return hooks().exec(dialog); }
    static void message(QWidget* parent, const QString& text, Icon icon) {
        hooks().message(parent, text, icon);
    }
    static bool askYesNo(QWidget* parent, const QString& text) {
        return hooks().askYesNo(parent, text);
    }
    static QString input(QWidget* parent, const QString& prompt, const QString& title) {
        return hooks().input(parent, prompt, title);
    }
};
