#pragma once
// The points where the program reaches outside its own windows: modal
// showing, message boxes and questions, file dialogs and the desktop shell. Each is a
// replaceable hook; while a hook is empty the real thing happens. Tests
// install a hook that records the call and gives the answer a user would.

#include <QString>

#include <functional>
#include <optional>

class TForm;
class TFileDialog;

namespace Seams {

// Runs instead of the modal event loop of TForm::ShowModal, while the form is
// shown and application-modal; it plays the user. When it returns, a form
// that is still open is closed, and ShowModal returns.
inline std::function<void(TForm& form)> modal;

// Runs instead of showing a message box with one OK button.
inline std::function<void(const QString& caption, const QString& text)> messageBox;

// The answers to a question with the buttons "Да", "Нет" and "Отмена".
enum class TAnswer { Yes, No, Cancel };

// Runs instead of asking a question with those three buttons; returns the
// button the user pressed (closing the box is "Отмена").
inline std::function<TAnswer(const QString& caption, const QString& text)> question;

// Runs instead of the file dialog; returns the chosen file name, or nothing
// when the user cancels.
inline std::function<std::optional<QString>(const TFileDialog& dialog)> fileDialog;

// Receives the command lines handed to the desktop shell instead of the
// desktop's default handler.
inline std::function<void(const QString& commandLine)> shell;

// Empties every hook.
inline void Reset()
{
    modal = nullptr;
    messageBox = nullptr;
    question = nullptr;
    fileDialog = nullptr;
    shell = nullptr;
}

} // namespace Seams
