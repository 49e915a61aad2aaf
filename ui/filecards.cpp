#include "ui/filecards.h"

#include <QBuffer>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageReader>
#include <QMimeDatabase>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTime>
#include <QUrl>
#include <algorithm>
#include <chrono>

#include "protocol/utf8.h"
#include "share/filerequest.h"
#include "share/filestore.h"
#include "share/sharedname.h"
#include "trust/hex.h"
#include "ui/transcriptmarks.h"

namespace {

// Marks a card's line of buttons with the card's number.
constexpr int kCardProperty = QTextFormat::UserProperty + 1;
// Pictures shown in a card fit this box.
constexpr int kPictureWidth = 240;
constexpr int kPictureHeight = 180;
// A picture larger than this is shown by its name alone: fetching it would
// cost more than its look is worth.
constexpr uint64_t kPreviewLargest = 8ull << 20;
constexpr int kPreviewsAtOnce = 2;
constexpr size_t kPreviewsWaiting = 32;
constexpr auto kProgressEvery = std::chrono::milliseconds(100);

// A picture read at most at the size a card shows: a huge one never takes
// its whole memory.
QImage ReadShown(QImageReader& reader) {
  reader.setAutoTransform(true);
  const QSize size = reader.size();
  if (!size.isValid() || size.isEmpty()) return {};
  reader.setScaledSize(
      size.scaled(std::min(size.width(), kPictureWidth), std::min(size.height(), kPictureHeight), Qt::KeepAspectRatio));
  return reader.read();
}

// A shared picture's small view, sent with its details: a PNG or a JPEG small
// enough is its own; any other picture is drawn small as a JPEG, as good as
// fits. Empty for what is no picture.
std::string SmallPicture(const QString& path) {
  if (std::string own = OwnSmallPicture(path.toStdString()); !own.empty()) return own;
  QFile file(path);
  char first[16] = {};
  const qint64 n = file.open(QIODevice::ReadOnly) ? file.read(first, sizeof first) : 0;
  if (PictureType(reinterpret_cast<const uint8_t*>(first), static_cast<size_t>(std::max<qint64>(0, n))).empty())
    return {};
  QImageReader reader(path);
  const QImage shown = ReadShown(reader);
  for (const int quality : {80, 60, 40, 25}) {
    QByteArray jpeg;
    QBuffer into(&jpeg);
    if (!into.open(QIODevice::WriteOnly) || !shown.save(&into, "JPEG", quality)) return {};
    if (jpeg.size() <= static_cast<qsizetype>(PICTURE_LARGEST)) return jpeg.toStdString();
  }
  return {};
}

// The small view a host passed on, believed only as a PNG or a JPEG.
QImage ReadSmallPicture(const std::string& bytes) {
  const std::string type = PictureType(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  if (type != "image/png" && type != "image/jpeg") return {};
  QByteArray data = QByteArray::fromStdString(bytes);
  QBuffer from(&data);
  from.open(QIODevice::ReadOnly);
  QImageReader reader(&from, type == "image/png" ? "png" : "jpeg");
  return ReadShown(reader);
}

QTextCharFormat TextFormat(const QColor& colour, bool bold = false) {
  QTextCharFormat f;
  f.setFontFamilies({QStringLiteral("Courier New")});
  f.setForeground(colour);
  f.setFontWeight(bold ? QFont::Bold : QFont::Normal);
  return f;
}

QString Shown(const std::string& text) { return QString::fromStdString(ControlsShown(text)); }

// A file's name between isolates: its letters cannot turn the size and kind
// around it.
QString Isolated(const std::string& text) { return QChar(0x2068) + Shown(text) + QChar(0x2069); }

QString SavedAs(const QString& path) { return QStringLiteral("Saved as %1").arg(QDir::toNativeSeparators(path)); }

QString Bar(uint64_t done, uint64_t total) {
  const int cells = 20;
  const int full = total == 0 ? 0 : static_cast<int>(done * cells / total);
  const int percent = total == 0 ? 0 : static_cast<int>(done * 100 / total);
  return QString(full, QChar(0x2588)) + QString(cells - full, QChar(0x2591)) + QStringLiteral(" %1 %").arg(percent);
}

}  // namespace

CFileCards::CFileCards(QTextEdit* transcript, Hooks hooks, QString cacheFolder)
    : QObject(transcript), transcript(transcript), hooks(std::move(hooks)), cacheFolder(std::move(cacheFolder)) {}

CFileCards::~CFileCards() = default;

std::optional<FileHost> CFileCards::Host() {
  if (std::optional<FileHost> now = hooks.host ? hooks.host() : std::nullopt) lastHost = now;
  return lastHost;
}

void CFileCards::SetTicket(std::string given) {
  ticket = std::move(given);
  if (hooks.sharable) hooks.sharable(!ticket.empty());
}

QString CFileCards::CachePath(const Card& card) const {
  return cacheFolder + QLatin1Char('/') + QString::fromStdString(card.file.id) + QLatin1Char('/') +
         QString::fromStdString(card.file.name);
}

CFileCards::Card& CFileCards::Add(const SharedFile& file, const std::string& url, bool own) {
  Card& card = cards[++lastNumber];
  card.number = lastNumber;
  card.file = file;
  card.url = url;
  const bool isPrivate = (file.flags & FILE_PRIVATE) != 0;
  const QColor header = isPrivate ? QColor(255, 128, 255) : QColor(128, 128, 128);
  QTextCursor end(transcript->document());
  end.movePosition(QTextCursor::End);
  const int from = end.position();
  QString says;
  if (own && isPrivate) says = QStringLiteral("(*private*) to ") + Shown(file.to) + QStringLiteral(", a file :");
  else
    says = (isPrivate ? QStringLiteral("(*private*) ") : QString()) + Shown(file.from) +
           QStringLiteral(" shares a file :");
  end.insertText(says, TextFormat(header));
  MarkPiece(transcript->document(), from, end.position(), false, QTime::currentTime());
  if (!file.type.empty()) {
    end.insertBlock();
    card.picture = end;
    card.picture.setKeepPositionOnInsert(true);
  }
  end.insertBlock();
  const QString kind =
      QMimeDatabase().mimeTypeForFile(QString::fromStdString(file.name), QMimeDatabase::MatchExtension).comment();
  const QColor text = transcript->palette().color(QPalette::Text);
  end.insertText(Isolated(file.name), TextFormat(text, true));
  end.insertText(QStringLiteral(" (%1, %2)").arg(QString::fromStdString(SizeText(file.size)), kind), TextFormat(text));
  end.insertBlock();
  QTextBlockFormat marked;
  marked.setProperty(kCardProperty, card.number);
  end.setBlockFormat(marked);
  card.actions = end;
  card.actions.setKeepPositionOnInsert(true);
  // The next line starts after an empty one, as after every line.
  end.insertBlock(QTextBlockFormat());
  end.insertBlock();
  return card;
}

bool CFileCards::Redraw(Card& card) {
  const QTextBlock block = card.actions.block();
  if (block.blockFormat().property(kCardProperty).toInt() != card.number) return false;
  QTextCursor line(block);
  line.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  line.removeSelectedText();
  const QTextCharFormat plain = TextFormat(transcript->palette().color(QPalette::PlaceholderText));
  const auto button = [&](const QString& text, const QString& what, const QString& tip) {
    QTextCharFormat f = TextFormat(transcript->palette().color(QPalette::Link), true);
    f.setAnchor(true);
    f.setAnchorHref(QStringLiteral("%1:%2/%3").arg(QLatin1String(CARD_ACTION_SCHEME), what).arg(card.number));
    f.setFontUnderline(true);
    f.setToolTip(tip);
    if (!line.block().text().isEmpty()) line.insertText(QStringLiteral("   "), plain);
    line.insertText(text, f);
  };
  if (!card.status.isEmpty()) line.insertText(card.status, plain);
  switch (card.state) {
    case State::Sharing:
    case State::Fetching:
      line.insertText((card.status.isEmpty() ? QString() : QStringLiteral("   ")) + Bar(card.done, card.total), plain);
      button(QStringLiteral("Cancel"), QStringLiteral("cancel"), QStringLiteral("Stops the transfer"));
      break;
    case State::Ready:
      button(QStringLiteral("Open"), QStringLiteral("open"), QStringLiteral("Opens the file"));
      button(QStringLiteral("Save\u2026"), QStringLiteral("save"), QStringLiteral("Saves the file where you choose"));
      break;
    case State::NotShared: break;
  }
  return true;
}

void CFileCards::Share(const QString& path, const std::string& to, const std::string& own) {
  const std::optional<FileHost> host = Host();
  SharedFile file;
  file.name = CleanSharedName(QFileInfo(path).fileName().toStdString());
  file.size = static_cast<uint64_t>(std::max<qint64>(0, QFileInfo(path).size()));
  file.from = own;
  file.to = to;
  file.flags = to.empty() ? 0 : FILE_PRIVATE;
  QFile opened(path);
  char first[16] = {};
  const qint64 n = opened.open(QIODevice::ReadOnly) ? opened.read(first, sizeof first) : 0;
  file.type = PictureType(reinterpret_cast<const uint8_t*>(first), static_cast<size_t>(std::max<qint64>(0, n)));
  Card& card = Add(file, "", true);
  if (!host || ticket.empty()) {
    card.state = State::NotShared;
    card.status = QStringLiteral("Not shared: this chat's host keeps no shared files, or you are not in the chat.");
    Redraw(card);
    return;
  }
  card.state = State::Sharing;
  card.status = QStringLiteral("Sharing\u2026");
  card.total = file.size;
  Redraw(card);
  const int number = card.number;
  card.transfer = transfers.Start(
      [host = *host, ticket = ticket, path = path.toStdString(), own, to, this, number](FileClient& files,
                                                                                        std::string& error) {
        // Drawn here, off the window's thread: a large picture takes a while.
        const std::string small = SmallPicture(QString::fromStdString(path));
        Later(number, [this, small](Card& c) {
          // The sharer's own picture shows from its small view.
          c.small = small;
          ShowPicture(c, ReadSmallPicture(small));
        });
        UploadedFile uploaded;
        if (!UploadSharedFile(files, host, ticket, path, own, to, uploaded, error)) return false;
        Later(number, [this, uploaded](Card& c) {
          UploadedFile told = uploaded;
          if (!c.small.empty()) told.picture = c.small;
          const bool said = hooks.announce && hooks.announce(told);
          c.file = uploaded.file;
          c.url = uploaded.url;
          c.state = said ? State::Ready : State::NotShared;
          c.status = said ? QString() : QStringLiteral("Kept by the host, but its line could not be sent.");
          Redraw(c);
        });
        return true;
      },
      ProgressOf(number, State::Sharing),
      [this, number](bool ok, const std::string& error) {
        if (ok) return;
        Later(number, [this, error](Card& c) {
          c.state = State::NotShared;
          c.status = QStringLiteral("Not shared: %1.").arg(QString::fromStdString(error));
          Redraw(c);
        });
      });
}

FileClient::Progress CFileCards::ProgressOf(int number, State moving) {
  auto last = std::chrono::steady_clock::time_point();
  return [this, number, moving, last](uint64_t done, uint64_t total) mutable {
    // The card is drawn anew a few times a second, and once whole.
    const auto now = std::chrono::steady_clock::now();
    if (now - last < kProgressEvery && done != total) return;
    last = now;
    Later(number, [this, moving, done, total](Card& c) {
      if (c.state != moving) return;
      c.done = done;
      c.total = total;
      Redraw(c);
    });
  };
}

void CFileCards::Show(const SharedFile& shared) {
  // What a host sent is believed only in a form this side could have made.
  if (!IsLowerHex(shared.id, 32) || !IsLowerHex(shared.sha256, 64)) return;
  SharedFile file = shared;
  file.name = CleanSharedName(file.name);
  if (!IsPictureType(file.type)) file.type.clear();
  const std::optional<FileHost> host = Host();
  if (!host) return;
  const bool tls = host->joined.outcome == ConnectReport::Outcome::Encrypted;
  Card& card = Add(file, FileUrlText({tls, host->address, host->port, SharedFilePath(file.id, file.name)}), false);
  Redraw(card);
  // Its small view follows on the chat's connection; without one, a picture
  // not too large is fetched to be shown.
  if (card.picture.isNull() || (file.flags & FILE_PICTURE) != 0 || file.size > kPreviewLargest) return;
  previews.push_back(card.number);
  // A flood of pictures keeps the newest waiting.
  while (previews.size() > kPreviewsWaiting) previews.pop_front();
  NextPreview();
}

void CFileCards::TakePicturePart(const std::string& id, uint16_t part, uint16_t parts, const std::string& bytes) {
  // The newest card of that file still waiting for its picture.
  for (auto it = cards.rbegin(); it != cards.rend(); ++it) {
    Card& card = it->second;
    if (card.file.id != id || (card.file.flags & FILE_PICTURE) == 0 || card.picture.isNull() || card.pictureShown)
      continue;
    // The parts come in order; one missing or out of place drops what came.
    if (part == 0) card.small.clear(), card.partsSeen = 0;
    if (part != card.partsSeen || card.small.size() + bytes.size() > PICTURE_LARGEST) return;
    card.small += bytes;
    ++card.partsSeen;
    if (card.partsSeen == parts) {
      ShowPicture(card, ReadSmallPicture(card.small));
      card.pictureShown = true;
    }
    return;
  }
}

void CFileCards::NextPreview() {
  while (previewing < kPreviewsAtOnce && !previews.empty()) {
    auto found = cards.find(previews.front());
    previews.pop_front();
    if (found == cards.end() || found->second.state != State::Ready) continue;
    ++previewing;
    Fetch(found->second, CachePath(found->second), false, true);
  }
}

void CFileCards::Fetch(Card& card, const QString& path, bool open, bool preview) {
  const std::optional<FileHost> host = Host();
  FileUrl url;
  if (!host || !ReadFileUrl(card.url, url) || !QDir().mkpath(QFileInfo(path).path())) {
    card.status = QStringLiteral("Not fetched: you are not in the chat.");
    Redraw(card);
    if (preview) --previewing;
    return;
  }
  card.state = State::Fetching;
  card.status = preview ? QStringLiteral("Fetching the picture\u2026")
                        : (open ? QStringLiteral("Opening\u2026") : QStringLiteral("Saving\u2026"));
  card.done = 0;
  card.total = card.file.size;
  card.open = open;
  card.preview = preview;
  card.writing = path;
  Redraw(card);
  const int number = card.number;
  auto sha256 = std::make_shared<std::string>();
  card.transfer = transfers.Start(
      [url, key = host->joined.key, out = path.toStdString(), sha256](FileClient& files, std::string& error) {
        const std::shared_ptr<TlsContext> tls = url.tls ? TlsContext::ForClient(error) : nullptr;
        return files.Connect(
                   url, tls, [&key](const KeyDigest& met) { return met == key; }, error) &&
               files.Fetch(url, out, *sha256, error);
      },
      ProgressOf(number, State::Fetching),
      [this, number, sha256](bool ok, const std::string& error) {
        Later(number, [this, ok, error, sha256](Card& c) { Fetched(c, ok, error, *sha256); });
      });
}

void CFileCards::Fetched(Card& card, bool ok, const std::string& error, const std::string& sha256) {
  if (card.preview) {
    --previewing;
    NextPreview();
  }
  card.state = State::Ready;
  // Kept only when it is the very file shared: the host's digest must be
  // the sharer's too.
  const bool mismatch = !sha256.empty() && sha256 != card.file.sha256;
  if (!ok || mismatch) {
    const bool cancelled = error == "cancelled";
    // Nothing half written stays behind a cancel; after a loss the next try
    // resumes it.
    if (mismatch || cancelled || card.preview) QFile::remove(card.writing);
    if (mismatch) card.status = QStringLiteral("The file did not arrive as it was shared: deleted.");
    else if (cancelled || card.preview) card.status.clear();
    else card.status = QStringLiteral("Not fetched: %1.").arg(QString::fromStdString(error));
    Redraw(card);
    return;
  }
  card.kept = card.writing;
  card.status = card.preview || card.open ? QString() : SavedAs(card.kept);
  if (card.preview) {
    QImageReader reader(card.kept);
    ShowPicture(card, ReadShown(reader));
  }
  if (card.open) QDesktopServices::openUrl(QUrl::fromLocalFile(card.kept));
  Redraw(card);
}

void CFileCards::ShowPicture(Card& card, const QImage& image) {
  if (card.picture.isNull() || image.isNull()) return;
  const QTextBlock block = card.picture.block();
  if (block.length() > 1 || block.blockFormat().property(kCardProperty).isValid()) return;
  const QUrl name(QStringLiteral("jaselo-picture:%1").arg(card.number));
  transcript->document()->addResource(QTextDocument::ImageResource, name, image);
  QTextImageFormat picture;
  picture.setName(name.toString());
  picture.setWidth(image.width());
  picture.setHeight(image.height());
  picture.setAnchor(true);
  picture.setAnchorHref(QStringLiteral("%1:open/%2").arg(QLatin1String(CARD_ACTION_SCHEME)).arg(card.number));
  picture.setToolTip(QStringLiteral("Opens the picture"));
  QTextCursor at(block);
  at.insertImage(picture);
}

void CFileCards::Press(const QUrl& button) {
  const QStringList parts = button.path().split(QLatin1Char('/'));
  if (parts.size() != 2) return;
  auto found = cards.find(parts[1].toInt());
  if (found == cards.end()) return;
  Card& card = found->second;
  if (parts[0] == QLatin1String("cancel") && card.transfer != 0 &&
      (card.state == State::Sharing || card.state == State::Fetching)) {
    transfers.Cancel(card.transfer);
  } else if (parts[0] == QLatin1String("open") && card.state == State::Ready) {
    Open(card);
  } else if (parts[0] == QLatin1String("save") && card.state == State::Ready) {
    Save(card);
  }
}

void CFileCards::Open(Card& card) {
  if (!card.kept.isEmpty() && QFileInfo(card.kept).size() == static_cast<qint64>(card.file.size)) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(card.kept));
    return;
  }
  Fetch(card, CachePath(card), true, false);
}

void CFileCards::Save(Card& card) {
  const QString chosen = QFileDialog::getSaveFileName(transcript->window(), QStringLiteral("Save"),
                                                      QDir::home().filePath(QString::fromStdString(card.file.name)));
  if (chosen.isEmpty()) return;
  if (chosen == card.kept) {
    card.status = SavedAs(chosen);
    Redraw(card);
    return;
  }
  // The fetch resumes what is there: a file chosen to be replaced goes first,
  // unless it is what the last try of this card left.
  if (chosen != card.writing) QFile::remove(chosen);
  if (!card.kept.isEmpty() && QFile::copy(card.kept, chosen)) {
    card.status = SavedAs(chosen);
    Redraw(card);
    return;
  }
  Fetch(card, chosen, false, false);
}
