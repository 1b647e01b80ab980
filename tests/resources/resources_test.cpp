// The resources as they end up in the built tavrin-corvel.exe, read back from
// the file: what the resource compiler made of the scripts, byte by byte.
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/unique_handle.h"
#include "resources/resource.h"
#include "tests/resources/expected_texts.h"
#include "tests/support/run_raw.h"

namespace {

using Bytes = std::vector<unsigned char>;
using UniqueModule = UniqueHandle<NullEmptyTraits<HMODULE, &::FreeLibrary>>;

BOOL CALLBACK AddName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR names);
BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages);

// The exe whose resources are read: tavrin-corvel.exe beside this test, or
// the file that TAVRIN_PROGRAM_FILE names (the 64-bit suite reads the 32-bit
// product that way: a data file loads whatever its bitness).
std::wstring ProgramFile() {
  wchar_t path[MAX_PATH * 4] = {};
  const DWORD length =
      ::GetEnvironmentVariableW(L"TAVRIN_PROGRAM_FILE", path, static_cast<DWORD>(std::size(path)));
  return length > 0 && length < std::size(path) ? std::wstring(path) : ProgramPath();
}

// The exe loaded as data: its resources are readable, none of its code runs.
class ProgramResources : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_module.Reset(::LoadLibraryExW(ProgramFile().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  }
  static void TearDownTestSuite() { s_module.Reset(); }

  void SetUp() override { ASSERT_TRUE(s_module) << "cannot load " << Utf8(ProgramFile()); }

  static HMODULE Module() { return s_module.Get(); }

  // The resource's bytes; empty when it is missing.
  static Bytes Resource(LPCWSTR type, LPCWSTR name, LANGID language) {
    const HRSRC found = ::FindResourceExW(Module(), type, name, language);
    if (found == nullptr) return {};
    const auto* data =
        static_cast<const unsigned char*>(::LockResource(::LoadResource(Module(), found)));
    if (data == nullptr) return {};
    return Bytes(data, data + ::SizeofResource(Module(), found));
  }

  // Numeric names of every resource of `type`; a name given as a string
  // shows up as 0x10000, a value no numeric id can have.
  static std::set<unsigned> Names(LPCWSTR type) {
    std::set<unsigned> names;
    ::EnumResourceNamesW(Module(), type, &AddName, reinterpret_cast<LONG_PTR>(&names));
    return names;
  }

  static std::set<LANGID> Languages(LPCWSTR type, LPCWSTR name) {
    std::set<LANGID> languages;
    ::EnumResourceLanguagesW(Module(), type, name, &AddLanguage,
                             reinterpret_cast<LONG_PTR>(&languages));
    return languages;
  }

 private:
  static UniqueModule s_module;
};

UniqueModule ProgramResources::s_module;

BOOL CALLBACK AddName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR names) {
  reinterpret_cast<std::set<unsigned>*>(names)->insert(
      IS_INTRESOURCE(name) ? static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(name)) : 0x10000u);
  return TRUE;
}

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages) {
  reinterpret_cast<std::set<LANGID>*>(languages)->insert(language);
  return TRUE;
}

// A little-endian reader over a resource's bytes that notes any read past the
// end instead of performing it.
class Reader {
 public:
  explicit Reader(const Bytes& bytes) : m_bytes(bytes) {}

  unsigned Byte() { return Take(1) ? m_bytes[m_at - 1] : 0; }
  unsigned Word() {
    if (!Take(2)) return 0;
    return m_bytes[m_at - 2] | (m_bytes[m_at - 1] << 8);
  }
  uint32_t Dword() {
    const uint32_t low = Word();
    return low | (static_cast<uint32_t>(Word()) << 16);
  }
  int Short() { return static_cast<int16_t>(Word()); }

  // A zero-terminated UTF-16 string.
  std::wstring String() {
    std::wstring text;
    for (unsigned unit = Word(); unit != 0 && !m_overrun; unit = Word()) {
      text.push_back(static_cast<wchar_t>(unit));
    }
    return text;
  }

  // A name or an ordinal, as the menu, class and title fields of a dialog
  // template store them; an ordinal reads as "#<number>".
  std::wstring NameOrOrdinal() {
    const unsigned first = Word();
    if (first == 0xFFFF) return L"#" + std::to_wstring(Word());
    if (first == 0) return std::wstring();
    m_at -= 2;
    return String();
  }

  void AlignDword() { m_at = std::min(m_bytes.size(), (m_at + 3) & ~std::size_t{3}); }
  std::size_t Offset() const { return m_at; }
  bool Overrun() const { return m_overrun; }

 private:
  bool Take(std::size_t count) {
    if (m_bytes.size() - m_at < count) {
      m_overrun = true;
      return false;
    }
    m_at += count;
    return true;
  }

  const Bytes& m_bytes;
  std::size_t m_at = 0;
  bool m_overrun = false;
};

// The 16 entries of a string-table block, and whether its bytes held exactly
// those entries and nothing more.
struct Block {
  std::vector<std::wstring> entries;
  bool exact = false;
};

Block ReadBlock(const Bytes& bytes) {
  Reader reader(bytes);
  Block block;
  for (int i = 0; i < 16; ++i) {
    std::wstring entry(reader.Word(), L'\0');
    for (wchar_t& unit : entry) unit = static_cast<wchar_t>(reader.Word());
    block.entries.push_back(entry);
  }
  block.exact = !reader.Overrun() && reader.Offset() == bytes.size();
  return block;
}

bool IsClass(const std::wstring& stored, unsigned atom, const wchar_t* name) {
  return stored == L"#" + std::to_wstring(atom) || ::lstrcmpiW(stored.c_str(), name) == 0;
}

}  // namespace

TEST_F(ProgramResources, StringTablesHoldExactlyTheFiveLanguagesAndTheirTexts) {
  EXPECT_EQ((std::set<unsigned>{7, 8}), Names(RT_STRING));
  const std::set<LANGID> stored(std::begin(kStoredLanguages), std::end(kStoredLanguages));
  for (unsigned blockNumber : {7u, 8u}) {
    EXPECT_EQ(stored, Languages(RT_STRING, MAKEINTRESOURCEW(blockNumber)))
        << "block " << blockNumber;
  }

  for (int column = 0; column < 5; ++column) {
    const LANGID language = kStoredLanguages[column];
    std::vector<std::wstring> texts;
    for (unsigned blockNumber : {7u, 8u}) {
      const Block block = ReadBlock(Resource(RT_STRING, MAKEINTRESOURCEW(blockNumber), language));
      EXPECT_TRUE(block.exact) << "language " << std::hex << language << " block " << blockNumber;
      texts.insert(texts.end(), block.entries.begin(), block.entries.end());
    }
    ASSERT_EQ(32u, texts.size());
    // Ids 96 to 127: 103 to 115 hold the texts, all others are empty.
    for (unsigned id = 96; id < 128; ++id) {
      std::wstring expected;
      for (const ExpectedText& row : kExpectedTexts) {
        if (row.id == id) expected = row.text[column];
      }
      EXPECT_TRUE(texts[id - 96] == expected)
          << "language " << std::hex << language << std::dec << " id " << id << ": got \""
          << Utf8(texts[id - 96]) << "\", want \"" << Utf8(expected) << "\"";
    }
  }
}

TEST_F(ProgramResources, DialogTemplateIsStoredFieldByField) {
  EXPECT_EQ(std::set<unsigned>{IDD_MAIN_DIALOG}, Names(RT_DIALOG));
  EXPECT_EQ(std::set<LANGID>{0x0410}, Languages(RT_DIALOG, MAKEINTRESOURCEW(IDD_MAIN_DIALOG)));
  const Bytes bytes = Resource(RT_DIALOG, MAKEINTRESOURCEW(IDD_MAIN_DIALOG), 0x0410);
  ASSERT_FALSE(bytes.empty());
  Reader reader(bytes);

  EXPECT_EQ(1u, reader.Word()) << "version";
  EXPECT_EQ(0xFFFFu, reader.Word()) << "extended template signature";
  EXPECT_EQ(0u, reader.Dword()) << "help id";
  EXPECT_EQ(0x00000088u, reader.Dword()) << "extended style";
  EXPECT_EQ(0x80880040u, reader.Dword()) << "style";
  const unsigned controls = reader.Word();
  EXPECT_EQ(5u, controls);
  EXPECT_EQ(0, reader.Short());
  EXPECT_EQ(0, reader.Short());
  EXPECT_EQ(152, reader.Short());
  EXPECT_EQ(91, reader.Short());
  EXPECT_EQ(L"", reader.NameOrOrdinal()) << "menu";
  EXPECT_EQ(L"", reader.NameOrOrdinal()) << "class";
  EXPECT_EQ(L"", reader.String()) << "caption";
  EXPECT_EQ(11u, reader.Word()) << "font size";
  EXPECT_EQ(400u, reader.Word()) << "font weight";
  EXPECT_EQ(0u, reader.Byte()) << "italic";
  EXPECT_EQ(0u, reader.Byte()) << "character set";
  EXPECT_EQ(L"Arial", reader.String());

  struct Control {
    unsigned id;
    unsigned classAtom;
    const wchar_t* className;
    const wchar_t* text;
    uint32_t style;
    uint32_t exStyle;
    int x, y, cx, cy;
  };
  const Control expected[] = {
      {IDC_YES_BUTTON, 0x80, L"button", L"-Yes-", 0x5001000B, 0, 24, 75, 49, 12},
      {IDC_LATER_BUTTON, 0x80, L"button", L"-Later-", 0x5001000B, 0, 80, 75, 49, 12},
      {IDC_MESSAGE_TEXT, 0x82, L"static",
       L"-A new update is available.\nDo you want to install it?-", 0x50020001, 0x20, 45, 14, 94,
       20},
      {IDC_CLOSE_BUTTON, 0x80, L"button", L"-Terminate-", 0x4001000B, 0, 52, 75, 50, 12},
      {IDC_ANIMATION, 0x82, L"static", L"", 0x4000000D, 0x20, 20, 40, 70, 15},
  };
  for (const Control& control : expected) {
    SCOPED_TRACE("control " + std::to_string(control.id));
    reader.AlignDword();
    EXPECT_EQ(0u, reader.Dword()) << "help id";
    EXPECT_EQ(control.exStyle, reader.Dword()) << "extended style";
    EXPECT_EQ(control.style, reader.Dword()) << "style";
    EXPECT_EQ(control.x, reader.Short());
    EXPECT_EQ(control.y, reader.Short());
    EXPECT_EQ(control.cx, reader.Short());
    EXPECT_EQ(control.cy, reader.Short());
    EXPECT_EQ(control.id, reader.Dword());
    const std::wstring className = reader.NameOrOrdinal();
    EXPECT_TRUE(IsClass(className, control.classAtom, control.className)) << Utf8(className);
    EXPECT_TRUE(reader.NameOrOrdinal() == control.text) << "text";
    EXPECT_EQ(0u, reader.Word()) << "creation data";
  }
  EXPECT_FALSE(reader.Overrun());
  EXPECT_EQ(bytes.size(), reader.Offset()) << "bytes after the last control";
}

TEST_F(ProgramResources, BackgroundIsA24BitBitmapInTheDialogsBlue) {
  EXPECT_EQ(std::set<unsigned>{IDR_BACKGROUND}, Names(L"JPEG"));
  const HRSRC found = ::FindResourceW(Module(), MAKEINTRESOURCEW(IDR_BACKGROUND), L"JPEG");
  ASSERT_NE(nullptr, found);
  const auto* data =
      static_cast<const unsigned char*>(::LockResource(::LoadResource(Module(), found)));
  const Bytes bytes(data, data + ::SizeofResource(Module(), found));
  ASSERT_EQ(159654u, bytes.size());

  Reader reader(bytes);
  EXPECT_EQ('B' | ('M' << 8), static_cast<int>(reader.Word()));
  EXPECT_EQ(159654u, reader.Dword()) << "file size";
  reader.Dword();
  const uint32_t pixelsAt = reader.Dword();
  EXPECT_EQ(40u, reader.Dword()) << "info header size";
  EXPECT_EQ(280u, reader.Dword()) << "width";
  EXPECT_EQ(190u, reader.Dword()) << "height, bottom-up";
  EXPECT_EQ(1u, reader.Word()) << "planes";
  EXPECT_EQ(24u, reader.Word()) << "bits per pixel";
  EXPECT_EQ(0u, reader.Dword()) << "compression";
  ASSERT_EQ(bytes.size() - 280 * 3 * 190, pixelsAt);

  // Behind the message text the picture stays close to RGB(2, 117, 198), so
  // that the white text reads the same as on the plain brush around it.
  const int row = 190 - 1 - 45;  // 45 pixels from the top, stored bottom-up
  for (int x = 90; x < 250; x += 20) {
    const unsigned char* pixel = &bytes[pixelsAt + (row * 280 + x) * 3];
    EXPECT_NEAR(198, pixel[0], 12) << "blue at x " << x;
    EXPECT_NEAR(117, pixel[1], 12) << "green at x " << x;
    EXPECT_NEAR(2, pixel[2], 12) << "red at x " << x;
  }
}

TEST_F(ProgramResources, BackgroundDecodesAsAPicture) {
  const HRSRC found = ::FindResourceW(Module(), MAKEINTRESOURCEW(IDR_BACKGROUND), L"JPEG");
  ASSERT_NE(nullptr, found);
  const DWORD size = ::SizeofResource(Module(), found);
  const void* data = ::LockResource(::LoadResource(Module(), found));

  ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  {
    UniqueGlobal memory(::GlobalAlloc(GMEM_MOVEABLE, size));
    ASSERT_TRUE(memory);
    std::memcpy(::GlobalLock(memory.Get()), data, size);
    ::GlobalUnlock(memory.Get());
    ComPtr<IStream> stream;
    ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(memory.Get(), FALSE, stream.Receive()));
    ComPtr<IPicture> picture;
    ASSERT_EQ(S_OK, ::OleLoadPicture(stream.Get(), 0, FALSE, IID_IPicture, picture.ReceiveVoid()));

    SHORT type = PICTYPE_UNINITIALIZED;
    ASSERT_EQ(S_OK, picture->get_Type(&type));
    EXPECT_EQ(PICTYPE_BITMAP, type);
    OLE_HANDLE handle = 0;
    ASSERT_EQ(S_OK, picture->get_Handle(&handle));
    BITMAP bitmap{};
    ASSERT_NE(0, ::GetObjectW(reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(handle)),
                              sizeof bitmap, &bitmap));
    EXPECT_EQ(280, bitmap.bmWidth);
    EXPECT_EQ(190, bitmap.bmHeight);
    OLE_XSIZE_HIMETRIC width = 0;
    OLE_YSIZE_HIMETRIC height = 0;
    ASSERT_EQ(S_OK, picture->get_Width(&width));
    ASSERT_EQ(S_OK, picture->get_Height(&height));
    EXPECT_GT(width, 0);
    EXPECT_NEAR(280.0 / 190.0, static_cast<double>(width) / height, 0.02);
  }
  ::CoUninitialize();
}

TEST_F(ProgramResources, PinnedCertificateIsTheConfiguredOne) {
  std::ifstream file(TAVRIN_TEST_PINNED_CERTIFICATE, std::ios::binary);
  ASSERT_TRUE(file) << TAVRIN_TEST_PINNED_CERTIFICATE;
  const Bytes expected((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(expected.empty());

  EXPECT_EQ(std::set<unsigned>{IDR_PINNED_CERTIFICATE}, Names(L"CERTIFICATE"));
  EXPECT_EQ(std::set<LANGID>{0x0410},
            Languages(L"CERTIFICATE", MAKEINTRESOURCEW(IDR_PINNED_CERTIFICATE)));
  EXPECT_TRUE(expected ==
              Resource(L"CERTIFICATE", MAKEINTRESOURCEW(IDR_PINNED_CERTIFICATE), 0x0410));
}

// Windows refuses to start a program whose manifest names another
// architecture than its own.
TEST_F(ProgramResources, ManifestNamesTheProgramsOwnArchitecture) {
  std::ifstream file(ProgramFile().c_str(), std::ios::binary);
  const Bytes image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_GT(image.size(), 0x40u);
  uint32_t header = 0;
  std::memcpy(&header, &image[0x3C], sizeof header);
  ASSERT_LT(header + 6u, image.size());
  uint16_t machine = 0;
  std::memcpy(&machine, &image[header + 4], sizeof machine);
  const char* expected = machine == IMAGE_FILE_MACHINE_I386    ? "processorArchitecture=\"x86\""
                         : machine == IMAGE_FILE_MACHINE_AMD64 ? "processorArchitecture=\"amd64\""
                                                               : "unknown machine";
  const Bytes manifest = Resource(RT_MANIFEST, MAKEINTRESOURCEW(1), 0);
  EXPECT_NE(std::string(manifest.begin(), manifest.end()).find(expected), std::string::npos)
      << "machine 0x" << std::hex << machine;
}

TEST_F(ProgramResources, OneManifestThatTheLoaderAccepts) {
  // A second manifest (the toolchain's default beside ours) would leave it to
  // chance which one the loader reads.
  EXPECT_EQ(std::set<unsigned>{1}, Names(RT_MANIFEST));
  EXPECT_EQ(1u, Languages(RT_MANIFEST, MAKEINTRESOURCEW(1)).size());
  const std::wstring path = ProgramFile();
  ACTCTXW context{};
  context.cbSize = sizeof context;
  context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
  context.lpSource = path.c_str();
  context.lpResourceName = MAKEINTRESOURCEW(1);
  const HANDLE activation = ::CreateActCtxW(&context);
  ASSERT_NE(INVALID_HANDLE_VALUE, activation) << "error " << ::GetLastError();
  ::ReleaseActCtx(activation);
}

int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
