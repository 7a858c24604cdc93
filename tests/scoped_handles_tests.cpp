// The handle owners: every one closes its object exactly once, whichever way ownership goes,
// seen through the system rather than through the owner itself.

#include <gtest/gtest.h>

#include <windows.h>

#include <objbase.h>

#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "base/scoped_handles.h"

namespace {

bool KernelHandleOpen(HANDLE handle) {
  DWORD flags = 0;
  return GetHandleInformation(handle, &flags) != FALSE;
}

struct EventKind {
  using Owner = varn::KernelHandle;
  static HANDLE Make() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }
  static bool IsOpen(HANDLE handle) { return KernelHandleOpen(handle); }
};

struct FileKind {
  using Owner = varn::FileHandle;
  static HANDLE Make() {
    wchar_t directory[MAX_PATH];
    wchar_t path[MAX_PATH];
    GetTempPathW(MAX_PATH, directory);
    GetTempFileNameW(directory, L"own", 0, path);
    return CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  }
  static bool IsOpen(HANDLE handle) { return KernelHandleOpen(handle); }
};

struct BrushKind {
  using Owner = varn::BrushHandle;
  static HBRUSH Make() { return CreateSolidBrush(RGB(0x20, 0x40, 0x60)); }
  static bool IsOpen(HBRUSH brush) { return GetObjectType(brush) == OBJ_BRUSH; }
};

struct MenuKind {
  using Owner = varn::MenuHandle;
  static HMENU Make() { return CreatePopupMenu(); }
  static bool IsOpen(HMENU menu) { return IsMenu(menu) != FALSE; }
};

struct IconKind {
  using Owner = varn::IconHandle;
  // A private copy: the stock icon itself is shared and never destroyed.
  static HICON Make() { return CopyIcon(LoadIconW(nullptr, IDI_APPLICATION)); }
  static bool IsOpen(HICON icon) {
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) return false;
    if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
    if (info.hbmMask != nullptr) DeleteObject(info.hbmMask);
    return true;
  }
};

template <typename Kind>
class OwnerTest : public testing::Test {};

struct KindName {
  template <typename Kind>
  static std::string GetName(int) {
    if (std::is_same_v<Kind, EventKind>) return "Event";
    if (std::is_same_v<Kind, FileKind>) return "File";
    if (std::is_same_v<Kind, BrushKind>) return "Brush";
    if (std::is_same_v<Kind, MenuKind>) return "Menu";
    return "Icon";
  }
};

using Kinds = testing::Types<EventKind, FileKind, BrushKind, MenuKind, IconKind>;
TYPED_TEST_SUITE(OwnerTest, Kinds, KindName);

// A moved-from owner is ended while the owner it moved to still lives, so that an owner which
// kept its handle after the move shows as a closed object that should be open.
TYPED_TEST(OwnerTest, ClosesExactlyOnceWhateverPathItTakes) {
  using Kind = TypeParam;
  using Owner = typename Kind::Owner;

  auto scoped = Kind::Make();
  ASSERT_TRUE(Kind::IsOpen(scoped));
  {
    Owner owner(scoped);
    EXPECT_TRUE(owner);
    EXPECT_TRUE(Kind::IsOpen(scoped)) << "closed while owned";
  }
  EXPECT_FALSE(Kind::IsOpen(scoped)) << "scope end";

  auto moved = Kind::Make();
  {
    std::optional<Owner> source(std::in_place, moved);
    Owner target(std::move(*source));
    EXPECT_FALSE(*source) << "move construction left the source holding";
    EXPECT_EQ(target.get(), moved);
    source.reset();
    EXPECT_TRUE(Kind::IsOpen(moved)) << "the moved-from owner closed it";
  }
  EXPECT_FALSE(Kind::IsOpen(moved)) << "end of the owner it was moved to";

  auto held = Kind::Make();
  auto incoming = Kind::Make();
  {
    Owner target(held);
    std::optional<Owner> source(std::in_place, incoming);
    target = std::move(*source);
    EXPECT_FALSE(Kind::IsOpen(held)) << "move assignment kept what the target held";
    EXPECT_FALSE(*source) << "move assignment left the source holding";
    source.reset();
    EXPECT_TRUE(Kind::IsOpen(incoming)) << "the moved-from owner closed it";
    EXPECT_EQ(target.get(), incoming);
  }
  EXPECT_FALSE(Kind::IsOpen(incoming)) << "end of the owner it was assigned to";

  auto first = Kind::Make();
  auto second = Kind::Make();
  {
    Owner owner(first);
    owner.reset(second);
    EXPECT_FALSE(Kind::IsOpen(first)) << "reset kept the old handle";
    EXPECT_TRUE(Kind::IsOpen(second)) << "reset closed the new handle";
    owner.reset();
    EXPECT_FALSE(Kind::IsOpen(second)) << "reset to empty";
    EXPECT_FALSE(owner) << "reset to empty left the owner holding";
  }

  auto released = Kind::Make();
  {
    Owner owner(released);
    EXPECT_EQ(owner.release(), released);
    EXPECT_FALSE(owner) << "release left the owner holding";
  }
  EXPECT_TRUE(Kind::IsOpen(released)) << "closed after release";
  { Owner again(released); }
  EXPECT_FALSE(Kind::IsOpen(released));
}

// The log tells a failed open from an open file by the owner alone; each kind must take its
// opening function's failure answer for empty.
TEST(ScopedHandle, FailedOpenIsEmpty) {
  varn::KernelHandle event(OpenEventW(SYNCHRONIZE, FALSE, L"VARNListenFix-no-such-event"));
  EXPECT_FALSE(event) << "null from OpenEventW";
  varn::FileHandle file(CreateFileW(L"Z:\\no-such-directory-here\\file.txt", GENERIC_READ, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_EQ(file.get(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(file) << "INVALID_HANDLE_VALUE from CreateFileW";
}

TEST(SelectedObject, PutsThePreviousObjectBackOnce) {
  HDC dc = CreateCompatibleDC(nullptr);
  ASSERT_NE(dc, nullptr);
  varn::BrushHandle red(CreateSolidBrush(RGB(0xFF, 0, 0)));
  varn::BrushHandle blue(CreateSolidBrush(RGB(0, 0, 0xFF)));
  HGDIOBJ original = GetCurrentObject(dc, OBJ_BRUSH);
  auto current = [dc] { return GetCurrentObject(dc, OBJ_BRUSH); };

  {
    varn::SelectedObject outer(dc, red.get());
    EXPECT_EQ(outer.previous(), original);
    {
      varn::SelectedObject inner(dc, blue.get());
      EXPECT_EQ(current(), blue.get());
    }
    EXPECT_EQ(current(), red.get()) << "the inner scope put back something else than the outer's";
  }
  EXPECT_EQ(current(), original) << "scope end";

  {
    std::optional<varn::SelectedObject> source(std::in_place, dc, red.get());
    varn::SelectedObject target(std::move(*source));
    source.reset();
    EXPECT_EQ(current(), red.get()) << "the moved-from scope put the previous object back";
  }
  EXPECT_EQ(current(), original) << "end of the scope it was moved to";

  DeleteDC(dc);
}

// What the calling thread's apartment is: "none", "mta" or "sta".
std::string Apartment() {
  APTTYPE type{};
  APTTYPEQUALIFIER qualifier{};
  if (FAILED(CoGetApartmentType(&type, &qualifier))) return "none";
  if (qualifier == APTTYPEQUALIFIER_IMPLICIT_MTA) return "none";
  return type == APTTYPE_MTA ? "mta" : "sta";
}

std::string Joined(const varn::ComApartment& apartment) {
  return apartment ? "joined " : "refused ";
}

struct ApartmentCase {
  const char* name;
  std::string (*body)();
  const char* expected;
};

// Each case runs on a thread of its own, which starts outside any apartment; the body notes the
// apartment at each step.
const ApartmentCase kApartmentCases[] = {
    {"left at scope end",
     [] {
       std::string seen;
       {
         varn::ComApartment apartment(COINIT_MULTITHREADED);
         seen += Joined(apartment) + Apartment() + " ";
       }
       return seen + Apartment();
     },
     "joined mta none"},
    {"S_FALSE is a join that must be balanced",
     [] {
       CoInitializeEx(nullptr, COINIT_MULTITHREADED);
       std::string seen;
       {
         varn::ComApartment apartment(COINIT_MULTITHREADED);
         seen += Joined(apartment);
         CoUninitialize();
         seen += Apartment() + " ";
       }
       return seen + Apartment();
     },
     "joined mta none"},
    {"a refused change of mode leaves the other apartment alone",
     [] {
       CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
       std::string seen;
       {
         varn::ComApartment apartment(COINIT_MULTITHREADED);
         seen += Joined(apartment);
       }
       seen += Apartment();
       CoUninitialize();
       return seen;
     },
     "refused sta"},
    {"move construction",
     [] {
       std::string seen;
       {
         std::optional<varn::ComApartment> source(std::in_place, COINIT_MULTITHREADED);
         varn::ComApartment target(std::move(*source));
         source.reset();
         seen += Apartment() + " ";
       }
       return seen + Apartment();
     },
     "mta none"},
    {"move assignment onto a joined owner",
     [] {
       std::string seen;
       {
         varn::ComApartment target(COINIT_MULTITHREADED);
         {
           std::optional<varn::ComApartment> source(std::in_place, COINIT_MULTITHREADED);
           target = std::move(*source);
           source.reset();
           seen += Apartment() + " ";
         }
         seen += Apartment() + " ";
       }
       return seen + Apartment();
     },
     "mta mta none"},
    {"reset leaves once",
     [] {
       std::string seen;
       {
         varn::ComApartment apartment(COINIT_MULTITHREADED);
         apartment.reset();
         seen += Apartment() + " ";
         CoInitializeEx(nullptr, COINIT_MULTITHREADED);
       }
       seen += Apartment();
       CoUninitialize();
       return seen;
     },
     "none mta"},
};

struct ApartmentRun {
  const ApartmentCase* test;
  std::string seen;
};

DWORD WINAPI RunApartmentCase(void* parameter) {
  auto* run = static_cast<ApartmentRun*>(parameter);
  run->seen = run->test->body();
  return 0;
}

TEST(ComApartment, UninitialisesOnlyAfterASuccessfulJoinAndOnlyOnce) {
  for (const ApartmentCase& c : kApartmentCases) {
    ApartmentRun run{&c, std::string()};
    HANDLE thread = CreateThread(nullptr, 0, RunApartmentCase, &run, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_EQ(run.seen, c.expected) << c.name;
  }
}

}  // namespace
