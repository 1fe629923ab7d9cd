#pragma once
// How the program tells the operator things: modal message boxes captioned
// with the application title, and the error report for a failed command.

#include <QString>

// Shown on the task bar and as the caption of every message box.
inline constexpr char kApplicationTitle[] = "TARVO - управление стелой Z408";

// A modal box with the text and an OK button, centred on the screen; returns
// when the operator has closed it.
void ShowMessage(const QString& text);

// The error report: the error's text in a modal box with an error icon.
void ShowErrorReport(const QString& errorText);

// The text the error report shows: a "." is appended when the last character
// sorts after ".", so "Unable to open com port" gets one and "...(code: 5)" not.
QString ErrorReportText(const QString& errorText);
