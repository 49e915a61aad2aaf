// The window's side of sharing files: what the user shares (the paper clip,
// "Share a file…", a drop, a paste, a person's "Send a file…"), whom it goes
// to, and the line that tells the chat once the host keeps it.

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QMimeData>
#include <QPushButton>
#include <QStandardPaths>

#include "ui/filecards.h"
#include "ui/jaselodlg.h"
#include "ui/nicknamecompleter.h"
#include "ui/peoplepane.h"
#include "ui/picturepreview.h"
#include "ui/resource.h"
#include "ui/resources.h"
#include "ui/toolkit/richedit.h"
#include "ui/transcriptactions.h"
#include "ui/transcriptmarks.h"
#include "ui/typedline.h"

namespace {
// More files than this in one drop or paste are more likely a slip than a wish.
constexpr qsizetype kFilesAtOnce = 20;

// The window's folder `name` in the user's cache.
QString CacheFolder(const char* name) {
  return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/jaselo/") +
         QLatin1String(name);
}

// The local files among what a drag or a paste holds; none when any of it is
// something else.
QStringList LocalFiles(const QMimeData* source) {
  QStringList files;
  if (!source->hasUrls()) return files;
  for (const QUrl& url : source->urls()) {
    if (!url.isLocalFile() || !QFileInfo(url.toLocalFile()).isFile()) return {};
    files << url.toLocalFile();
  }
  return files;
}
}  // namespace

void CJaseloDlg::SetUpSharing() {
  CFileCards::Hooks hooks;
  hooks.host = [this] { return FileHostNow(); };
  hooks.announce = [this](const UploadedFile& uploaded) { return AnnounceFile(uploaded); };
  hooks.sharable = [this](bool can) {
    Button(IDC_ATTACH)->setEnabled(can);
    shareAction->setEnabled(can);
  };
  fileCards = new CFileCards(transcript, std::move(hooks), CacheFolder("files"));
  transcriptActions->Marks()->SetCardCall([this](const QUrl& button) { fileCards->Press(button); });
  shareAction = new QAction(QStringLiteral("Share a file\u2026"), this);
  connect(shareAction, &QAction::triggered, this, [this] { OnShareFile(ShareTarget()); });
  transcriptActions->AddMenuAction(shareAction);
  Button(IDC_ATTACH)->setIcon(LoadBitmapResource(IDB_ATTACH));
  Button(IDC_ATTACH)->setIconSize(QSize(BitmapResourceSize(IDB_ATTACH), BitmapResourceSize(IDB_ATTACH)));
  connect(Button(IDC_ATTACH), &QPushButton::clicked, this, [this] { OnShareFile(ShareTarget()); });
  // Until the host gives its ticket, nothing can be shared.
  Button(IDC_ATTACH)->setEnabled(false);
  shareAction->setEnabled(false);
  peoplePane->SetFileSender([this](const std::string& name) { OnShareFile(name); },
                            [this] { return fileCards->CanShare(); });
  inputBox->SetMimeTaker([this](const QMimeData* source) { return TakeMime(source); });
  setAcceptDrops(true);
}

std::optional<FileHost> CJaseloDlg::FileHostNow() {
  // While a try to join again restarts the client, there is no host to reach.
  const std::unique_lock lock(clientStart, std::try_to_lock);
  if (!lock.owns_lock() || !clientNetwork.IsActive()) return std::nullopt;
  return FileHost{joinAddress, joinPort, clientNetwork.LastConnect()};
}

bool CJaseloDlg::AnnounceFile(const UploadedFile& uploaded) {
  const std::unique_lock lock(clientStart, std::try_to_lock);
  if (!lock.owns_lock() || !sendable.load() || !clientNetwork.IsActive()) return false;
  ChatEvent line = OwnLine();
  if (!AnnounceSharedFile(clientNetwork, line, uploaded)) return false;
  // A private line reaches its addressee alone: the sender's transcript shows it from here.
  if (!uploaded.file.to.empty()) AppendOwnPrivate(uploaded.file.to, line);
  return true;
}

std::string CJaseloDlg::ShareTarget() {
  inputBox->SetSel(0, -1);
  const std::string typed = inputBox->GetSelText();
  inputBox->SetSel(-1, -1);
  // "/msg bob" with or without its text yet: the file goes to bob alone.
  const TypedLine line = ParseTypedLine(typed + " .", completer->Names());
  return line.kind == TypedLine::Kind::Private ? line.addressee : std::string();
}

void CJaseloDlg::OnShareFile(const std::string& to) {
  if (!fileCards->CanShare()) return;
  const QString caption = to.empty() ? QStringLiteral("Share with everybody")
                                     : QStringLiteral("Send to %1").arg(QString::fromStdString(to));
  const QStringList chosen = QFileDialog::getOpenFileNames(this, caption, QDir::homePath());
  ShareFiles(chosen, to);
}

void CJaseloDlg::ShareFiles(const QStringList& paths, const std::string& to) {
  for (const QString& path : paths.mid(0, kFilesAtOnce)) fileCards->Share(path, to, Own().str());
}

bool CJaseloDlg::TakeMime(const QMimeData* source) {
  // Without a ticket, whatever it holds goes in as text, as it always did.
  if (!fileCards->CanShare()) return false;
  const QStringList files = LocalFiles(source);
  if (!files.isEmpty()) {
    ShareFiles(files, ShareTarget());
    return true;
  }
  // Programs that copy text often add a picture of it: text comes first.
  if (source->hasText() || !source->hasImage()) return false;
  const QImage picture = qvariant_cast<QImage>(source->imageData());
  if (!picture.isNull()) OfferPicture(picture, ShareTarget());
  return true;
}

void CJaseloDlg::OfferPicture(const QImage& picture, const std::string& to) {
  auto* preview =
      new CPicturePreview(picture, to.empty() ? QStringLiteral("everybody") : QString::fromStdString(to), this);
  preview->setAttribute(Qt::WA_DeleteOnClose);
  connect(preview, &QDialog::accepted, this, [this, preview, to] {
    // Shared as a PNG under the moment's name, from a folder of the user's own.
    const QString folder = CacheFolder("pasted");
    const QString path =
        folder + QStringLiteral("/picture-%1.png")
                     .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")));
    if (!QDir().mkpath(folder) || !preview->Picture().save(path, "PNG")) {
      AppendNotice("The picture could not be kept to share it !");
      return;
    }
    ShareFiles({path}, to);
  });
  preview->open();
  lastPreview = preview;
}

void CJaseloDlg::dragEnterEvent(QDragEnterEvent* event) {
  if (fileCards->CanShare() && !LocalFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void CJaseloDlg::dropEvent(QDropEvent* event) {
  const QStringList files = LocalFiles(event->mimeData());
  if (files.isEmpty() || !fileCards->CanShare()) return;
  event->acceptProposedAction();
  ShareFiles(files, ShareTarget());
}
