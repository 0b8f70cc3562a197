#pragma once
// The application object and the one place where errors raised by the
// program's handlers reach the user.
//
// A handler that throws is abandoned at that point and the program goes on:
// every handler runs through RunHandler (the Handle connector does this for
// signal connections), which stops the exception at the handler's edge, so
// that it never unwinds through the toolkit's own frames, and hands it to
// TApplication::notify. When the event that ran the handler has been
// delivered, notify shows the error with ShowException. Outside event
// delivery (no event on the stack) the error is shown at once.

#include <QApplication>
#include <QObject>

#include <exception>
#include <type_traits>
#include <utility>

class TApplication : public QApplication {
    Q_OBJECT
public:
    // Also maps the form fonts the windows name onto installed fonts, names
    // the program "Trelis", and installs the toolkit's Russian translation of
    // its standard dialogs and buttons (from the Qt translations package).
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // The user-visible name of the program, "Trelis": the caption of its
    // error boxes, as of its main window.
    static QString Title();
    // The file name of the running program, without its folder.
    static QString ProgramFileName();
};

// Shows an error to the user: the image range error as two boxes, "exp:
// OVERFLOW error" (caption: the program's file name) and then "Invalid
// floating point operation"; the conversion error and any other
// std::exception with their own text.
void ShowException(std::exception_ptr error);

// Hands an error caught at a handler's edge to the display (see above).
void ReportException(std::exception_ptr error);

// Runs one handler; an exception it raises is reported, not propagated.
template <class F>
void RunHandler(F&& handler)
{
    try {
        std::forward<F>(handler)();
    } catch (...) {
        ReportException(std::current_exception());
    }
}

namespace framework_detail {

// A signal receiver that runs the handler through RunHandler. Callable only
// with the argument lists the handler takes, so the toolkit passes it the
// leading signal arguments it wants.
template <class F>
struct THandlerSlot {
    F handler;
    template <class... A>
    auto operator()(A&&... args) const -> decltype(void(std::declval<const F&>()(std::forward<A>(args)...)))
    {
        RunHandler([&] { handler(std::forward<A>(args)...); });
    }
};

} // namespace framework_detail

// Connects a signal to a handler that runs through RunHandler, e.g.
//   Handle(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
// The connection ends with the context object.
template <class Sender, class Signal, class F>
QMetaObject::Connection Handle(Sender* sender, Signal signal, const QObject* context, F handler)
{
    return QObject::connect(sender, signal, context,
                            framework_detail::THandlerSlot<std::decay_t<F>>{std::move(handler)});
}
