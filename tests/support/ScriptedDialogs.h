#pragma once
// A stand-in for the program's dialogs: answers come from a script, every question is recorded.
// A question that the script did not foresee fails the test and gets the "No"/"Cancel" answer.

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QQueue>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>
#include <optional>

#include "app/Dialogs.h"

class ScriptedDialogs : public IDialogs {
public:
    struct Asked {
        QString Kind;  // "Warning", "Message", "Error", "Open", "Save", "Input"
        QString Title;
        QString Text;
    };

    // Scripted answers, consumed in order.
    QQueue<TAnswer> WarningAnswers;
    QQueue<std::optional<QString>> OpenAnswers;      // nullopt cancels
    QQueue<std::optional<QString>> SaveAnswers;      // nullopt cancels
    QQueue<std::optional<QString>> InputAnswers;     // nullopt cancels
    bool AllowUnscriptedErrors = false;              // errors are expected by the test
    bool WebBrowser = true;                          // a web browser is registered for web pages
    std::function<void(const QString& kind)> OnAsk;  // runs as each box or dialog opens

    // What was asked.
    QVector<Asked> Log;
    QStringList Errors;
    QStringList Documents;
    QStringList MissingDocuments;  // documents that the viewer reported it could not show
    QVector<TFileDialogRequest> OpenRequests;
    QVector<TFileDialogRequest> SaveRequests;
    QStringList InputInitialValues;

    int Count(const QString& kind) const {
        int n = 0;
        for (const Asked& a : Log)
            n += a.Kind == kind;
        return n;
    }

    TAnswer Warning(const QString& title, const QString& text) override {
        Log.push_back({"Warning", title, text});
        if (OnAsk) OnAsk("Warning");
        if (WarningAnswers.isEmpty()) {
            ADD_FAILURE() << "unexpected warning box: " << text.toStdString();
            return TAnswer::No;
        }
        return WarningAnswers.dequeue();
    }
    void Message(const QString& title, const QString& text) override {
        Log.push_back({"Message", title, text});
        if (OnAsk) OnAsk("Message");
    }
    void Error(const QString& text) override {
        Log.push_back({"Error", QString(), text});
        if (OnAsk) OnAsk("Error");
        Errors << text;
        if (!AllowUnscriptedErrors) ADD_FAILURE() << "unexpected error box: " << text.toStdString();
    }
    bool OpenFile(const TFileDialogRequest& request, QString& chosen) override {
        Log.push_back({"Open", QString(), request.FileName});
        if (OnAsk) OnAsk("Open");
        OpenRequests.push_back(request);
        return Answer(OpenAnswers, chosen, "open dialog");
    }
    bool SaveFile(const TFileDialogRequest& request, QString& chosen) override {
        Log.push_back({"Save", QString(), request.FileName});
        if (OnAsk) OnAsk("Save");
        SaveRequests.push_back(request);
        return Answer(SaveAnswers, chosen, "save dialog");
    }
    bool InputQuery(const QString& title, const QString& prompt, QString& value) override {
        Log.push_back({"Input", title, prompt});
        if (OnAsk) OnAsk("Input");
        InputInitialValues << value;
        return Answer(InputAnswers, value, "input dialog");
    }
    // Answers as a browser would: it cannot show a document that does not exist, and without a browser
    // nothing is shown.
    bool OpenDocument(const QString& path) override {
        Log.push_back({"Document", QString(), path});
        if (OnAsk) OnAsk("Document");
        Documents << path;
        const bool exists = QFileInfo(path).isFile();
        if (!exists) MissingDocuments << path;
        return exists && WebBrowser;
    }

private:
    static bool Answer(QQueue<std::optional<QString>>& queue, QString& out, const char* what) {
        if (queue.isEmpty()) {
            ADD_FAILURE() << "unexpected " << what;
            return false;
        }
        std::optional<QString> answer = queue.dequeue();
        if (!answer) return false;
        out = *answer;
        return true;
    }
};
