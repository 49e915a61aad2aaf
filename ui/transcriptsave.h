#pragma once
// Saving the transcript to a file the user picks: HTML that keeps every line's
// face, colour and effects, or plain text when the name ends in ".txt". The file
// is written whole or not at all, and the transcript itself is never touched.

#include <QDate>
#include <QString>

class QTextDocument;
class QWidget;

// Where the file chooser starts: the user's documents folder (the home folder
// when there is none) and a name holding `day`.
QString DefaultTranscriptPath(const QDate& day);

// Writes `document` to `path`, replacing any file there only once the new one is
// complete. On failure returns false and says why in `error`.
bool SaveTranscript(const QTextDocument& document, const QString& path, QString* error);

// Asks for a file name, then saves; an error box says when it could not be written.
void SaveTranscriptAs(QWidget* parent, const QTextDocument& document);
