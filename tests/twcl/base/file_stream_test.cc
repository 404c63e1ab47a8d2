// Tests of the two concrete object streams: CL_ByteStream over a byte string in memory and
// CL_BinaryFile over a file, alone and carrying stored objects.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>

#include "base_test_util.h"
#include "twcl/base/binary_file.h"
#include "twcl/base/byte_stream.h"
#include "twcl/base/date.h"
#include "twcl/base/integer.h"
#include "twcl/base/time_of_day.h"

namespace twcl_test {
namespace {

namespace fs = std::filesystem;

Bytes Of(const CL_ByteArray& a) {
  return a.Size() > 0 ? Bytes(a.AsPtr(), a.AsPtr() + a.Size()) : Bytes();
}

// ---------------------------------------------------------------------------------------
// CL_ByteStream

TEST(ByteStreamTest, ReadsWritesAndGrowsItsString) {
  CL_ByteString bytes;
  CL_ByteStream s(&bytes);
  EXPECT_STREQ(s.ClassName(), "CL_ByteStream");
  EXPECT_EQ(s.ClassId(), 31);
  EXPECT_TRUE(s.Eof());
  ASSERT_TRUE(s.Write("abcdef", 6));
  EXPECT_EQ(s.Size(), 6);
  EXPECT_EQ(s.Offset(), 6);
  EXPECT_TRUE(s.Eof());
  ASSERT_TRUE(s.SeekTo(2));
  ASSERT_TRUE(s.Write("XY", 2));
  EXPECT_EQ(Of(bytes), Bytes({'a', 'b', 'X', 'Y', 'e', 'f'}));
  ASSERT_TRUE(s.Write("123", 3));  // runs over the end
  EXPECT_EQ(s.Size(), 7);
  EXPECT_TRUE(s.Write("", 0));
  EXPECT_FALSE(s.Write("x", -1));

  char buffer[16] = {};
  ASSERT_TRUE(s.SeekTo(1));
  EXPECT_EQ(s.Read(buffer, 3), 3);
  EXPECT_EQ(std::string(buffer, 3), "bXY");
  EXPECT_EQ(s.Read(buffer, 10), 3);
  EXPECT_EQ(s.Read(buffer, 10), 0);
  EXPECT_EQ(s.Read(buffer, -2), 0);
  EXPECT_FALSE(s.SeekTo(-1));

  ASSERT_TRUE(s.SeekRelative(-100));
  EXPECT_EQ(s.Offset(), 0);
  ASSERT_TRUE(s.SeekRelative(4));
  EXPECT_EQ(s.Remaining(), 3);
  ASSERT_TRUE(s.SeekToEnd());
  EXPECT_EQ(s.Offset(), 7);
  ASSERT_TRUE(s.ChangeSize(3));
  EXPECT_EQ(s.Size(), 3);
  EXPECT_FALSE(s.ChangeSize(-1));
}

TEST(ByteStreamTest, SeekingPastTheEndGrowsBy64) {
  CL_ByteString bytes(10);
  CL_ByteStream s(&bytes);
  ASSERT_TRUE(s.SeekTo(100));
  EXPECT_EQ(bytes.Size(), 74);
  EXPECT_EQ(s.Offset(), 100);
  char buffer[4];
  EXPECT_EQ(s.Read(buffer, 4), 0);
  EXPECT_TRUE(s.Eof());
  ASSERT_TRUE(s.Write("zz", 2));
  EXPECT_EQ(bytes.Size(), 102);
  EXPECT_EQ(bytes.AsPtr()[100], 'z');
  ASSERT_TRUE(s.SeekTo(50));  // inside: nothing grows
  EXPECT_EQ(bytes.Size(), 102);
}

TEST(ByteStreamTest, WithoutAByteStringEverythingFails) {
  CL_ByteStream s(nullptr);
  char buffer[4];
  EXPECT_LT(s.Read(buffer, 4), 0);
  EXPECT_FALSE(s.Write("ab", 2));
  EXPECT_FALSE(s.SeekTo(0));
  EXPECT_FALSE(s.SeekRelative(1));
  EXPECT_FALSE(s.SeekToEnd());
  EXPECT_FALSE(s.ChangeSize(4));
  EXPECT_EQ(s.Size(), -1);
  EXPECT_TRUE(s.Eof());
  EXPECT_EQ(s.Remaining(), 0);
  CL_Long value;
  EXPECT_FALSE(s.ReadLong(value));
}

TEST(ByteStreamTest, WritingThroughItTellsTheByteStringsDependentsNothing) {
  CL_ByteString bytes;
  Recorder recorder;
  recorder.Watch(bytes);
  CL_ByteStream s(&bytes);
  ASSERT_TRUE(s.WriteLong(5));
  ASSERT_TRUE(s.SeekTo(90));
  EXPECT_EQ(recorder.pre + recorder.post, 0);
}

TEST(ByteStreamTest, CarriesObjectsByValueAndByPointer) {
  CL_ByteString bytes;
  CL_ByteStream out(&bytes);
  const CL_String text("text");
  const CL_Integer number(-9);
  const CL_Date date(1996, 3, 3);
  const CL_TimeOfDay time(15, 15, 0);
  const CL_ByteString blob(CL_String("blob"));
  ASSERT_TRUE(out.Write(text));
  ASSERT_TRUE(out.Write(number));
  ASSERT_TRUE(out.Write(&date));
  ASSERT_TRUE(out.Write(&time));
  out.RememberPointers();
  ASSERT_TRUE(out.Write(&blob));
  ASSERT_TRUE(out.Write(&blob));  // a back reference
  ASSERT_TRUE(out.Write(static_cast<const CL_Object*>(nullptr)));

  CL_ByteStream in(&bytes);
  CL_String text_back;
  CL_Integer number_back;
  ASSERT_TRUE(in.Read(text_back));
  ASSERT_TRUE(in.Read(number_back));
  EXPECT_TRUE(text_back == text);
  EXPECT_EQ(number_back.Value(), -9);
  CL_Object* objects[5] = {};
  for (CL_Object*& object : objects) ASSERT_TRUE(in.Read(object));
  std::unique_ptr<CL_Object> date_back(objects[0]), time_back(objects[1]), blob_back(objects[2]);
  EXPECT_TRUE(*date_back == date);
  EXPECT_TRUE(*time_back == time);
  EXPECT_TRUE(*blob_back == blob);
  EXPECT_EQ(objects[3], objects[2]);
  EXPECT_EQ(objects[4], nullptr);
  EXPECT_TRUE(in.Eof());
}

// ---------------------------------------------------------------------------------------
// CL_BinaryFile

class BinaryFileTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "twcl_file_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const char* name) const { return (dir_ / name).string(); }
  static std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void Put(const std::string& path, const std::string& contents) {
    std::ofstream(path, std::ios::binary) << contents;
  }
  std::string Error(const std::string& path, const char* what, const char* cause) const {
    return "File '" + path + "': " + what + ": " + cause;
  }

  fs::path dir_;
};

TEST_F(BinaryFileTest, CreatesWritesSeeksAndReads) {
  const std::string path = Path("data");
  CL_BinaryFile f(path.c_str(),
                  CL_BinaryFile::kRead | CL_BinaryFile::kWrite | CL_BinaryFile::kCreate);
  ASSERT_TRUE(f.IsOpen()) << Text(f.ErrorString());
  EXPECT_STREQ(f.ClassName(), "CL_BinaryFile");
  EXPECT_EQ(f.ClassId(), 32);
  EXPECT_EQ(Text(f.FileName()), path);
  EXPECT_TRUE(f.Eof());
  ASSERT_TRUE(f.Write("hello", 5));
  EXPECT_EQ(f.Size(), 5);
  EXPECT_EQ(f.Offset(), 5);
  EXPECT_TRUE(f.Eof());
  ASSERT_TRUE(f.SeekTo(1));
  EXPECT_EQ(f.Size(), 5);
  EXPECT_EQ(f.Offset(), 1);  // Size keeps the position
  char buffer[8] = {};
  EXPECT_EQ(f.Read(buffer, 8), 4);
  EXPECT_EQ(std::string(buffer, 4), "ello");
  EXPECT_EQ(f.Read(buffer, 8), 0);
  ASSERT_TRUE(f.SeekRelative(-2));
  EXPECT_EQ(f.Read(buffer, 1), 1);
  EXPECT_EQ(buffer[0], 'l');
  ASSERT_TRUE(f.SeekToEnd());
  EXPECT_EQ(f.Remaining(), 0);
  ASSERT_TRUE(f.ChangeSize(2));
  EXPECT_EQ(f.Size(), 2);
  EXPECT_EQ(Text(f.ErrorString()), "");
  f.Close();
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(Contents(path), "he");

  // A big block goes out and comes back whole.
  const std::string big(1 << 20, 'q');
  CL_BinaryFile g(path.c_str(),
                  CL_BinaryFile::kRead | CL_BinaryFile::kWrite | CL_BinaryFile::kCreate);
  ASSERT_TRUE(g.Write(big.data(), static_cast<CL_Long>(big.size())));
  ASSERT_TRUE(g.SeekTo(0));
  std::string back(big.size(), '\0');
  EXPECT_EQ(g.Read(back.data(), static_cast<CL_Long>(back.size())),
            static_cast<CL_Long>(big.size()));
  EXPECT_EQ(back, big);
}

TEST_F(BinaryFileTest, ConstructorFailuresLeaveItClosedWithTheirText) {
  const std::string missing = Path("missing");
  const std::string existing = Path("existing");
  Put(existing, "abc");
  struct Case {
    std::string path;
    short flags;
    std::string error;
  };
  const Case cases[] = {
      {missing, CL_BinaryFile::kRead,
       Error(missing, "BinaryFile constructor: file does not exist", "No such file or directory")},
      {Path("no/such/dir"), CL_BinaryFile::kWrite | CL_BinaryFile::kCreate,
       Error(Path("no/such/dir"), "BinaryFile constructor: create failed",
             "No such file or directory")},
      {existing, 0,
       Error(existing, "BinaryFile constructor: invalid  flags parameter 0x0000",
             "Invalid argument")},
      {missing, CL_BinaryFile::kCreate,
       Error(missing, "BinaryFile constructor: invalid  flags parameter 0x0004",
             "Invalid argument")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    CL_BinaryFile f(c.path.c_str(), c.flags);
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(Text(f.ErrorString()), c.error);
  }
  EXPECT_TRUE(fs::exists(missing));  // created before the flags were found wanting
  EXPECT_EQ(Contents(existing), "abc");
}

TEST_F(BinaryFileTest, AFileWithoutTheWriteFlagIsNeverWritten) {
  const std::string path = Path("kept");
  Put(path, "original");
  CL_BinaryFile f(path.c_str(), CL_BinaryFile::kRead);
  ASSERT_TRUE(f.IsOpen());
  Recorder recorder;
  recorder.Watch(f);
  EXPECT_FALSE(f.Write("xx", 2));
  EXPECT_EQ(recorder.pre + recorder.post, 0);
  EXPECT_FALSE(f.ChangeSize(1));
  EXPECT_THAT(Text(f.ErrorString()),
              testing::HasSubstr("BinaryFile::ChangeSize: chsize  call failed"));
  EXPECT_EQ(Contents(path), "original");
  EXPECT_EQ(f.Size(), 8);
}

TEST_F(BinaryFileTest, ChangesAreAskedAndTold) {
  const std::string path = Path("watched");
  CL_BinaryFile f(path.c_str(), CL_BinaryFile::kWrite | CL_BinaryFile::kCreate);
  ASSERT_TRUE(f.IsOpen());
  Recorder recorder;
  recorder.Watch(f);
  ASSERT_TRUE(f.Write("abc", 3));
  ASSERT_TRUE(f.ChangeSize(10));
  EXPECT_EQ(recorder.post, 2);
  recorder.permit = false;
  EXPECT_FALSE(f.Write("def", 3));
  EXPECT_FALSE(f.ChangeSize(1));
  EXPECT_EQ(recorder.post, 2);
  f.Close();
  EXPECT_EQ(Contents(path), std::string("abc\0\0\0\0\0\0\0", 10));
}

TEST_F(BinaryFileTest, FailedOperationsKeepTheirTextUntilTheNext) {
  const std::string path = Path("errors");
  Put(path, "12345");
  CL_BinaryFile f(path.c_str(), CL_BinaryFile::kRead | CL_BinaryFile::kWrite);
  ASSERT_TRUE(f.IsOpen());
  EXPECT_FALSE(f.SeekTo(-1));
  EXPECT_EQ(Text(f.ErrorString()),
            Error(path, "BinaryFile::SeekTo: lseek call failed", "Invalid argument"));
  EXPECT_EQ(f.Size(), 5);  // a query keeps the text
  EXPECT_FALSE(f.ErrorString().Size() == 0);
  ASSERT_TRUE(f.SeekTo(0));
  EXPECT_EQ(Text(f.ErrorString()), "");
  EXPECT_FALSE(f.SeekRelative(-10));
  EXPECT_EQ(Text(f.ErrorString()),
            Error(path, "BinaryFile::SeekRelative: lseek call failed", "Invalid argument"));

  f.Close();
  char buffer[4];
  const struct {
    const char* what;
    std::function<bool()> fails;
  } closed[] = {
      {"BinaryFile::Read: read call failed", [&] { return f.Read(buffer, 4) < 0; }},
      {"BinaryFile::Write: write call failed", [&] { return !f.Write("x", 1); }},
      {"BinaryFile::SeekTo: lseek call failed", [&] { return !f.SeekTo(0); }},
      {"BinaryFile::SeekRelative: lseek call failed", [&] { return !f.SeekRelative(1); }},
      {"BinaryFile::SeekToEnd: seek call failed", [&] { return !f.SeekToEnd(); }},
      {"BinaryFile::ChangeSize: chsize  call failed", [&] { return !f.ChangeSize(0); }},
  };
  for (const auto& c : closed) {
    SCOPED_TRACE(c.what);
    EXPECT_TRUE(c.fails());
    EXPECT_EQ(Text(f.ErrorString()), Error(path, c.what, "Bad file descriptor"));
  }
  EXPECT_EQ(f.Size(), -1);
  EXPECT_EQ(f.Offset(), -1);
  EXPECT_TRUE(f.Eof());
  EXPECT_EQ(Contents(path), "12345");
}

TEST_F(BinaryFileTest, AccessFlagsDecideHowItOpens) {
  const std::string path = Path("modes");
  Put(path, "xyz");
  CL_BinaryFile write_only(path.c_str(), CL_BinaryFile::kWrite);
  ASSERT_TRUE(write_only.IsOpen());
  char buffer[4];
  EXPECT_LT(write_only.Read(buffer, 3), 0);
  EXPECT_THAT(Text(write_only.ErrorString()),
              testing::HasSubstr("BinaryFile::Read: read call failed"));
  ASSERT_TRUE(write_only.Write("A", 1));
  write_only.Close();
  EXPECT_EQ(Contents(path), "Ayz");

  if (geteuid() != 0) {  // the superuser may write anything
    fs::permissions(path, fs::perms::owner_read);
    CL_BinaryFile refused(path.c_str(), CL_BinaryFile::kWrite);
    EXPECT_FALSE(refused.IsOpen());
    EXPECT_EQ(Text(refused.ErrorString()),
              Error(path, "BinaryFile constructor: file does not exist", "Permission denied"));
    EXPECT_FALSE(CL_BinaryFile::Exists(path.c_str(), CL_BinaryFile::kWrite));
  }
  EXPECT_TRUE(CL_BinaryFile::Exists(path.c_str(), CL_BinaryFile::kRead));
  EXPECT_TRUE(CL_BinaryFile::Exists(path.c_str(), 0));
  EXPECT_FALSE(CL_BinaryFile::Exists(Path("absent").c_str(), CL_BinaryFile::kRead));
  EXPECT_FALSE(CL_BinaryFile::Exists(nullptr, CL_BinaryFile::kRead));

  const std::string made = Path("made");
  EXPECT_TRUE(CL_BinaryFile::Create(made.c_str()));
  EXPECT_EQ(fs::file_size(made), 0u);
  EXPECT_EQ(fs::status(made).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  Put(made, "full");
  EXPECT_TRUE(CL_BinaryFile::Create(made.c_str()));  // empties it again
  EXPECT_EQ(fs::file_size(made), 0u);
  EXPECT_FALSE(CL_BinaryFile::Create(Path("no/dir").c_str()));
}

TEST_F(BinaryFileTest, StoredObjectsSurviveAReopenAndTruncationIsRefused) {
  const std::string path = Path("objects");
  {
    CL_BinaryFile out(path.c_str(), CL_BinaryFile::kWrite | CL_BinaryFile::kCreate);
    ASSERT_TRUE(out.IsOpen());
    ASSERT_TRUE(CL_String("persist").WriteTo(out));
    ASSERT_TRUE(CL_ByteString(CL_String("bytes")).WriteTo(out));
    ASSERT_TRUE(CL_Date(2024, 2, 29).WriteTo(out));
    const CL_TimeOfDay last_second(86399);
    ASSERT_TRUE(out.Write(&last_second));
  }
  CL_BinaryFile in(path.c_str(), CL_BinaryFile::kRead);
  ASSERT_TRUE(in.IsOpen());
  CL_String text;
  CL_ByteString bytes;
  CL_Date date;
  CL_Object* time = nullptr;
  ASSERT_TRUE(text.ReadFrom(in));
  ASSERT_TRUE(bytes.ReadFrom(in));
  ASSERT_TRUE(date.ReadFrom(in));
  ASSERT_TRUE(in.Read(time));
  std::unique_ptr<CL_Object> owned(time);
  EXPECT_EQ(Text(text), "persist");
  EXPECT_EQ(Text(bytes.AsString()), "bytes");
  EXPECT_EQ(Text(date.PrintString(1)), "29-Feb-2024");
  EXPECT_EQ(Text(owned->AsString()), "23:59:59");
  EXPECT_TRUE(in.Eof());

  // Cut inside the byte string's body: its size field asks for more than the file holds.
  fs::resize_file(path, 16 + 10);
  CL_BinaryFile cut(path.c_str(), CL_BinaryFile::kRead);
  CL_String first;
  ASSERT_TRUE(first.ReadFrom(cut));
  CL_ByteString kept(CL_String("kept"));
  EXPECT_FALSE(kept.ReadFrom(cut));
  EXPECT_EQ(Text(kept.AsString()), "kept");
}

}  // namespace
}  // namespace twcl_test
