// What the file door reads from a request's target and Range header, and the
// header values it writes: every value comes from a peer.

#include <gtest/gtest.h>

#include "share/filerequest.h"

TEST(FileRequest, ReadsOnlyWellFormedTargetsAndRanges) {
  const std::string sha(64, 'A');
  const FileRequest up = ReadFileRequest("PUT", "/files/a%20b%2F..%2Fc.txt?sha256=" + sha + "&ticket=t1");
  EXPECT_EQ(up.kind, FileRequest::Kind::Upload);
  EXPECT_EQ(up.name, "c.txt");
  EXPECT_EQ(up.sha256, std::string(64, 'a'));
  EXPECT_EQ(up.ticket, "t1");
  for (const char* bad :
       {"/files/x?ticket=t&sha256=zz", "/files/x%2?ticket=t&sha256=", "/files/?ticket=t", "/files/x?sha256="}) {
    EXPECT_EQ(ReadFileRequest("PUT", bad).kind, FileRequest::Kind::Bad) << bad;
  }
  const std::string id(32, 'f');
  EXPECT_EQ(ReadFileRequest("GET", "/files/" + id + "/any name").id, id);
  EXPECT_TRUE(ReadFileRequest("HEAD", "/files/" + id).head);
  EXPECT_EQ(ReadFileRequest("GET", "/files/" + std::string(32, 'F')).kind, FileRequest::Kind::Bad);
  EXPECT_EQ(ReadFileRequest("DELETE", "/files/" + id).kind, FileRequest::Kind::Bad);

  const struct {
    const char* header;
    uint64_t size;
    RangeAsked asked;
    uint64_t first = 0, last = 0;
  } ranges[] = {
      {"", 10, RangeAsked::Whole, 0, 9},
      {"bytes=5-", 10, RangeAsked::Part, 5, 9},
      {"bytes=2-4", 10, RangeAsked::Part, 2, 4},
      {"bytes=2-400", 10, RangeAsked::Part, 2, 9},
      {"bytes=-3", 10, RangeAsked::Part, 7, 9},
      {"bytes=-30", 10, RangeAsked::Part, 0, 9},
      {"bytes=10-", 10, RangeAsked::Unsatisfiable, 0, 0},
      {"bytes=-0", 10, RangeAsked::Unsatisfiable, 0, 0},
      {"bytes=0-", 0, RangeAsked::Unsatisfiable, 0, 0},
      {"bytes=4-2", 10, RangeAsked::Whole, 0, 9},
      {"bytes=1-2,4-5", 10, RangeAsked::Whole, 0, 9},
      {"items=1-2", 10, RangeAsked::Whole, 0, 9},
      {"bytes=99999999999999999999-", 10, RangeAsked::Whole, 0, 9},
  };
  for (const auto& r : ranges) {
    uint64_t first = 0, last = 0;
    EXPECT_EQ(ReadRange(r.header, r.size, first, last), r.asked) << r.header;
    if (r.asked != RangeAsked::Unsatisfiable) {
      EXPECT_EQ(std::make_pair(first, last), std::make_pair(r.first, r.last)) << r.header;
    }
  }
}

TEST(FileRequest, HeaderValuesCannotBeBrokenOutOfAndOnlyPicturesShowInPlace) {
  EXPECT_EQ(ContentDisposition("na\xC3\xAFve \"x\"\\.txt", false),
            "attachment; filename=\"na__ve _x__.txt\"; filename*=UTF-8''na%C3%AFve%20%22x%22%5C.txt");
  EXPECT_EQ(ContentDisposition("a\r\nb", true), "inline; filename=\"a__b\"; filename*=UTF-8''a%0D%0Ab");
  const auto type = [](std::string bytes) {
    return PictureType(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  };
  EXPECT_EQ(type(std::string("\x89PNG\r\n\x1A\n", 8)), "image/png");
  EXPECT_EQ(type("\xFF\xD8\xFF\xE0"), "image/jpeg");
  EXPECT_EQ(type("GIF89a"), "image/gif");
  EXPECT_EQ(type("RIFF\x10\0\0\0WEBPVP8 "), "");  // cut short by its NUL: not the whole magic
  EXPECT_EQ(type(std::string("RIFF\x10\0\0\0WEBPVP8 ", 16)), "image/webp");
  EXPECT_EQ(type("<svg xmlns='http://www.w3.org/2000/svg'>"), "");
  EXPECT_EQ(type("<html>"), "");
}
