#include "ui/transcriptsave.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTextDocument>

#include "ui/toolkit/toolkit.h"

namespace {
const QString kHtmlFilter = QStringLiteral("HTML (*.html *.htm)");
const QString kTextFilter = QStringLiteral("Plain text (*.txt)");

bool IsTextName(const QString& path) { return QFileInfo(path).suffix().compare("txt", Qt::CaseInsensitive) == 0; }

// Links look in a browser as in the window: in their sender's colour and
// effects, not blue and underlined.
QByteArray Html(const QTextDocument& document) {
  QString html = document.toHtml();
  const qsizetype styleEnd = html.indexOf(QStringLiteral("</style>"));
  if (styleEnd >= 0) html.insert(styleEnd, QStringLiteral("a { color: inherit; text-decoration: none; }\n"));
  return html.toUtf8();
}
}  // namespace

QString DefaultTranscriptPath(const QDate& day) {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (folder.isEmpty() || !QDir(folder).exists()) folder = QDir::homePath();
  return QDir(folder).filePath(QStringLiteral("Jaselo transcript %1.html").arg(day.toString(Qt::ISODate)));
}

bool SaveTranscript(const QTextDocument& document, const QString& path, QString* error) {
  const QByteArray bytes = IsTextName(path) ? document.toPlainText().toUtf8() : Html(document);
  QSaveFile file(path);
  if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit()) return true;
  if (error) *error = file.errorString();
  file.cancelWriting();
  return false;
}

void SaveTranscriptAs(QWidget* parent, const QTextDocument& document) {
  QString filter = kHtmlFilter;
  QString path = QFileDialog::getSaveFileName(parent, QStringLiteral("Save transcript"),
                                              DefaultTranscriptPath(QDate::currentDate()),
                                              kHtmlFilter + QStringLiteral(";;") + kTextFilter, &filter);
  if (path.isEmpty()) return;
  // A name typed without an extension takes the one of the chosen kind.
  if (QFileInfo(path).suffix().isEmpty())
    path += filter == kTextFilter ? QStringLiteral(".txt") : QStringLiteral(".html");
  QString error;
  if (!SaveTranscript(document, path, &error))
    MessageBox(
        parent,
        QStringLiteral("The transcript could not be saved to %1:\n%2").arg(QDir::toNativeSeparators(path), error),
        QStringLiteral("Error"), true);
}
