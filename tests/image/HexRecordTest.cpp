#include <gtest/gtest.h>

#include <string>

#include "image/VelHexFile.h"
#include "image/VelHexRec.h"

namespace vel {
namespace {

VelHexRec ReadOne(const std::string& text) {
  VelHexRec rec;
  std::size_t pos = 0;
  EXPECT_TRUE(rec.Read(text, &pos)) << text;
  return rec;  // its own copy of the data text
}

// The chain's records keep their data in `text`, which must outlive the chain.
RecordChain ChainOf(const std::string& text, bool* complete) {
  RecordChain chain;
  std::size_t pos = 0;
  LineCounter lines(text);
  *complete = chain.Read(text, &pos, lines);
  return chain;
}

TEST(VelHexRec, EndRecordReadsAndValidates) {
  const VelHexRec rec = ReadOne(":00000001FF");
  EXPECT_EQ(rec.ByteCount(), 0);
  EXPECT_EQ(rec.Address(), 0);
  EXPECT_EQ(rec.Type(), kEndOfFileRecord);
  EXPECT_EQ(rec.Data(), "");
  EXPECT_EQ(rec.Checksum(), 0xFF);
  EXPECT_TRUE(rec.IsChecksumValid());
  // The default record is the same end record.
  EXPECT_EQ(VelHexRec().FormatLine(), ":00000001ff\n");
}

TEST(VelHexRec, EitherCaseReadsTheSameValuesAndKeepsDataCase) {
  for (const std::string line : {":02FFF0000A0BFA", ":02fff0000a0bfa"}) {
    const VelHexRec rec = ReadOne(line);
    EXPECT_EQ(rec.ByteCount(), 2);
    EXPECT_EQ(rec.Address(), 0xFFF0);
    EXPECT_EQ(rec.Type(), kDataRecord);
    EXPECT_EQ(rec.Checksum(), 0xFA);
    EXPECT_TRUE(rec.IsChecksumValid()) << line;
  }
  EXPECT_EQ(ReadOne(":02fff0000a0bfa").Data(), "0a0b");
  EXPECT_EQ(ReadOne(":02FFF0000A0BFA").FormatLine(), ":02fff0000A0Bfa\n");
}

TEST(VelHexRec, SkipsAnythingBeforeTheColon) {
  const std::string text = "remark text\r\n\r\n  :00000001FF\r\n:00000001FF\n";
  VelHexRec a, b, c;
  std::size_t pos = 0, colon = 0;
  EXPECT_TRUE(a.Read(text, &pos, &colon));
  EXPECT_EQ(colon, 17u);
  EXPECT_TRUE(b.Read(text, &pos));
  EXPECT_FALSE(c.Read(text, &pos));  // nothing but a line end left
}

TEST(VelHexRec, ReadsRecordsOfUpTo255DataBytes) {
  for (int count : {127, 128, 200, 255}) {
    VelHexRec built(0x1234, std::string(2 * static_cast<std::size_t>(count), 'A'));
    ASSERT_EQ(built.ByteCount(), count);
    std::string line = built.FormatLine();
    const VelHexRec read = ReadOne(line);
    EXPECT_EQ(read.ByteCount(), count);
    EXPECT_EQ(read.Data().size(), 2u * static_cast<std::size_t>(count));
    EXPECT_TRUE(read.IsChecksumValid()) << count;
  }
}

TEST(VelHexRec, WrongCharactersReadButFailTheChecksum) {
  EXPECT_FALSE(ReadOne(":02FFF0000A0CFA").IsChecksumValid());
  EXPECT_FALSE(ReadOne(":02FFF000ZZ0BFA").IsChecksumValid());
}

TEST(VelHexRec, TruncatedRecordsReportTheEnd) {
  for (const std::string text :
       {"", "garbage only", ":", ":02FF", ":02FFF0000A0B", ":02FFF0000A0BF"}) {
    VelHexRec rec;
    std::size_t pos = 0;
    EXPECT_FALSE(rec.Read(text, &pos)) << text;
  }
}

TEST(VelHexRec, BuiltRecords) {
  const VelHexRec data(0x0120, "0a0b");
  EXPECT_EQ(data.Data(), "0A0B");
  EXPECT_TRUE(data.IsChecksumValid());
  const VelHexRec given(2, 0x0120, "0a0b", 0x42);
  EXPECT_EQ(given.Checksum(), 0x42);
  const VelHexRec linear = VelHexRec::AddressRecord(0, 0x00FF);
  EXPECT_EQ(linear.FormatLine(), ":02000004" + std::string("00FF") + "fb\n");
  const VelHexRec segment = VelHexRec::AddressRecord(2, 0x2000);
  EXPECT_EQ(segment.Type(), kExtSegmentAddressRecord);
  EXPECT_TRUE(segment.IsChecksumValid());
}

TEST(VelHexFile, ChainIsNumberedAndSearchable) {
  bool complete = false;
  const std::string text =
      ":0100000011EE\n:0100010022DC\n\n:0100020033CA\n:00000001FF\n:0100000011EE\n";
  const RecordChain chain = ChainOf(text, &complete);  // the records' data stay in `text`
  ASSERT_TRUE(complete);
  EXPECT_EQ(chain.Count(), 4);
  const VelHexFile& head = *chain.Head();
  EXPECT_EQ(head.RecordNumber(), 1);
  EXPECT_EQ(head.FindRecord(3)->Line(), 4);
  const VelHexFile* end = head.FindRecord(4);
  ASSERT_NE(end, nullptr);
  EXPECT_EQ(end->GetRecord().Type(), kEndOfFileRecord);
  EXPECT_EQ(end->GetNext(), nullptr);
  EXPECT_EQ(end->FindRecord(2)->GetRecord().Address(), 1);
  EXPECT_EQ(end->FindRecord(2)->GetPrevious(), &head);
  EXPECT_EQ(head.FindRecord(5), nullptr);
  std::string line;
  const VelHexFile* next = head.TakeLine(&line);
  EXPECT_EQ(line, ":0100000011ee\n");
  EXPECT_EQ(next->RecordNumber(), 2);
}

TEST(VelHexFile, ChainWithoutEndRecordIsIncomplete) {
  bool complete = true;
  EXPECT_EQ(ChainOf(":0100000011EE\n:0100010022DC\n", &complete).Count(), 2);
  EXPECT_FALSE(complete);
}

TEST(VelHexFile, LongChainsReadWalkAndFreeWithoutRecursion) {
  constexpr int kRecords = 150000;
  std::string text;
  const std::string line = VelHexRec(0x0000, "00112233445566778899AABBCCDDEEFF").FormatLine();
  text.reserve(static_cast<std::size_t>(kRecords) * line.size() + 16);
  for (int i = 0; i < kRecords; ++i) text += line;
  text += ":00000001FF\n";
  bool complete = false;
  auto chain = std::make_unique<RecordChain>(ChainOf(text, &complete));
  ASSERT_TRUE(complete);
  ASSERT_EQ(chain->Count(), kRecords + 1);
  const VelHexFile* last = chain->Head()->FindRecord(kRecords + 1);
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->FindRecord(1), chain->Head());
  chain.reset();  // must not overflow the stack
}

}  // namespace
}  // namespace vel
