#pragma once
// The program as it stands after start-up, with every way out of it (modal
// showing, file dialogs, message boxes, the shell) answered and recorded.

#include "forms/Forms.h"
#include "framework/Dialogs.h"
#include "framework/Form.h"
#include "framework/Seams.h"
#include "images/Globals.h"

#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

class Started : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The shared sequence outlives the windows; at start-up it is empty.
        ResetSequence();
        Seams::modal = [this](TForm& form) {
            log << "modal " + form.objectName();
            modalWasModal = form.isVisible() && form.windowModality() == Qt::ApplicationModal;
            if (user)
                user(form);
        };
        Seams::fileDialog = [this](const TFileDialog& dialog) -> std::optional<QString> {
            log << (dialog.DialogKind() == TFileDialog::Kind::Save ? "save dialog" : "open dialog");
            lastDialog = &dialog;
            return dialogAnswer;
        };
        Seams::messageBox = [this](const QString&, const QString& text) { log << "box " + text; };
        Seams::shell = [this](const QString& line) { log << "shell " + line; };
        CreateForms();
        for (TForm* form : TForm::Forms())
            form->setObjectName(QString::fromLatin1(form->metaObject()->className()).mid(1));
    }

    void TearDown() override
    {
        DestroyForms();
        ResetSequence();
    }

    static void ResetSequence()
    {
        TrainingSequence.Clear();
        TrainingSequence.SetDimension(0);
    }

    // The windows visible now, by global name.
    static QStringList Visible()
    {
        QStringList names;
        for (TForm* form : TForm::Forms())
            if (form->isVisible())
                names << form->objectName();
        return names;
    }

    QStringList log;                    // what reached the user or the desktop
    bool modalWasModal = false;         // the last modal form was shown modal
    std::function<void(TForm&)> user;   // plays the user in a modal form
    std::optional<QString> dialogAnswer; // the file dialogs' answer; none: Cancel
    const TFileDialog* lastDialog = nullptr;
};
