#pragma once
// Answers the main window's dialogs as a test tells it to, and records what was asked.
#include <QStringList>

#include <string>
#include <vector>

#include "app/Dialogs.h"

class RecordingDialogs : public kino::IDialogs {
public:
    QStringList errors;
    QStringList messages;
    int openAsked = 0, folderAsked = 0, urlAsked = 0, resetAsked = 0;

    bool openConfirmed = false;
    std::vector<std::string> openFiles;
    std::string folder; // empty: the browser is cancelled
    std::string url;    // empty: the box is cancelled
    bool resetAnswer = false;

    void ShowError(QWidget*, const QString& text) override { errors << kino::StandardErrorText(text); }
    bool OpenFiles(QWidget*, std::vector<std::string>& files) override
    {
        ++openAsked;
        if (openConfirmed)
            files = openFiles;
        return openConfirmed;
    }
    std::string BrowseFolder(QWidget*) override
    {
        ++folderAsked;
        return folder;
    }
    std::string InputUrl(QWidget*) override
    {
        ++urlAsked;
        return url;
    }
    bool ConfirmReset(QWidget*) override
    {
        ++resetAsked;
        return resetAnswer;
    }
    void ShowMessage(QWidget*, const QString& text) override { messages << text; }
};
