#pragma once
// Shared files in the transcript. Each file shared with the user, or by the
// user, gets a card: who shares it, its name, size and kind, a small picture
// for a picture, and its buttons ("Open", "Save…", "Cancel" while it moves,
// with a bar of its progress). A picture's small view travels with its
// details; without one, a picture up to 8 MiB is fetched to be shown. Uploads
// and fetches run on threads of their own; a fetched file is kept only when
// its SHA-256 is the one shared.

#include <QObject>
#include <QString>
#include <QTextCursor>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "chat/sharing.h"
#include "share/backgroundtransfers.h"

class QImage;
class QTextEdit;
class QUrl;

class CFileCards : public QObject {
  Q_OBJECT

 public:
  struct Hooks {
    // Where the host's file door is now; none while not joined, or while the
    // client cannot be looked at.
    std::function<std::optional<FileHost>()> host;
    // Sends the line and the details of a file the host now keeps; false
    // when they did not go.
    std::function<bool(const UploadedFile&)> announce;
    // Tells the window whether sharing is possible (the host gave a ticket).
    std::function<void(bool)> sharable;
  };

  // A child of `transcript`. Fetched files are kept under `cacheFolder` until
  // saved elsewhere.
  CFileCards(QTextEdit* transcript, Hooks hooks, QString cacheFolder);
  ~CFileCards() override;

  // The upload ticket the host gave this connection; empty when there is none.
  void SetTicket(std::string ticket);
  bool CanShare() const { return !ticket.empty(); }
  // Uploads `path`, for everyone or for `to` alone; its card shows how it goes.
  void Share(const QString& path, const std::string& to, const std::string& own);
  // A file someone shared with the user, or with everyone.
  void Show(const SharedFile& file);
  // A part of the small picture of a file shown before.
  void TakePicturePart(const std::string& id, uint16_t part, uint16_t parts, const std::string& bytes);
  // A card's button was pressed: its link.
  void Press(const QUrl& button);
  // Transfers under way (tests wait for them).
  size_t Running() { return transfers.Running(); }

 private:
  enum class State { Sharing, Ready, Fetching, NotShared };
  struct Card {
    int number = 0;
    SharedFile file;
    std::string url;
    State state = State::Ready;
    QTextCursor actions;  // the start of the card's line of buttons
    QTextCursor picture;  // the start of its picture's line, for a picture
    uint64_t transfer = 0;
    uint64_t done = 0, total = 0;
    QString status;     // what the line says before its buttons
    QString kept;       // a whole copy here: the cache's or the one saved
    QString writing;    // where the fetch under way writes
    bool open = false;  // the fetch under way opens the file once whole
    bool preview = false;
    std::string small;  // its small picture, as sent or as received so far
    uint16_t partsSeen = 0;
    bool pictureShown = false;
  };

  Card& Add(const SharedFile& file, const std::string& url, bool own);
  // Writes the card's line of buttons anew; false once the card has left the transcript.
  bool Redraw(Card& card);
  void ShowPicture(Card& card, const QImage& image);
  // Fetches the card's file into `path` (the cache's, or where the user saves it).
  void Fetch(Card& card, const QString& path, bool open, bool preview);
  void Fetched(Card& card, bool ok, const std::string& error, const std::string& sha256);
  // A transfer's progress, drawn on its card while the card is `moving`.
  FileClient::Progress ProgressOf(int number, State moving);
  // From a transfer's thread: `step` runs on the window's thread with card
  // `number`, if the cards and the card are still there.
  template <typename Step>
  void Later(int number, Step step) {
    QMetaObject::invokeMethod(
        this,
        [this, number, step = std::move(step)]() mutable {
          const auto found = cards.find(number);
          if (found != cards.end()) step(found->second);
        },
        Qt::QueuedConnection);
  }
  void Open(Card& card);
  void Save(Card& card);
  // Starts the picture fetches waiting, two at a time.
  void NextPreview();
  QString CachePath(const Card& card) const;
  // The host's file door: as it is now, or, while a try to join again holds
  // the client, as it was last.
  std::optional<FileHost> Host();

  QTextEdit* transcript;
  Hooks hooks;
  QString cacheFolder;
  std::string ticket;
  std::optional<FileHost> lastHost;
  std::map<int, Card> cards;
  int lastNumber = 0;
  std::deque<int> previews;  // cards whose picture waits for its fetch
  int previewing = 0;
  // Last, so that its threads end while the rest is still here.
  BackgroundTransfers transfers;
};
