// The status word, the option word and the exports that only answer.
#include "fixture.h"

using StatusTest = ModuleTest;

TEST_F(StatusTest, StateAtLoad) {
  EXPECT_EQ(0, m.GetArchiveStatus());
  EXPECT_EQ(1, m.arOptionsAreOn(0x0800));
  EXPECT_EQ(0, m.arOptionsAreOn(0x8800));  // bit 15 is locked at 0
  EXPECT_EQ(1, m.arOptionsAreOn(0));
  EXPECT_EQ(1, m.arOptionsAreOn(0x10000));  // only the low 16 bits count
}

TEST_F(StatusTest, OptionWordArithmetic) {
  EXPECT_EQ(0, m.arOptionsOn(0x8000));
  EXPECT_EQ(0, m.arOptionsAreOn(0x8000));
  EXPECT_EQ(1, m.arOptionsOn(0x18001));  // bits 16 and 15 are not set
  EXPECT_EQ(1, m.arOptionsAreOn(0x0801));
  EXPECT_EQ(0x8000, m.arOptionsOff(0xFFFF));
  EXPECT_EQ(0, m.arOptionsAreOn(0x0001));
  EXPECT_EQ(0, m.arOptionsAreOn(0x0800));
  EXPECT_EQ(1, m.arOptionsAreOn(0));
  m.arOptionsOn(0x0300);
  EXPECT_EQ(static_cast<uint16_t>(~0x0100), m.arOptionsOff(0x0100));
  EXPECT_EQ(1, m.arOptionsAreOn(0x0200));
  EXPECT_EQ(0, m.arOptionsAreOn(0x0300));
  EXPECT_EQ(0, m.GetArchiveStatus());  // options never touch the status
}

TEST_F(StatusTest, SetArchiveStatusKeepsLow16Bits) {
  EXPECT_EQ(0x1234, m.SetArchiveStatus(0x11234));
  EXPECT_EQ(0x1234, m.GetArchiveStatus());
  EXPECT_EQ(0xFFFF, m.SetArchiveStatus(-1));
}

TEST_F(StatusTest, UnsupportedAndIgnoredExports) {
  NoArgsProc unsupported[] = {m.AddDamageProtXionArc, m.BuildUnDamagedArc,
                              m.CreateArcSfx2, m.CreateDirectoryArc, m.CreateExeArc,
                              m.SetFileCommentsArc, m.SetMainCommentArc,
                              m.StripDamageProtXionArc, m.TestArc};
  for (NoArgsProc proc : unsupported) {
    m.SetArchiveStatus(7);
    proc();
    EXPECT_EQ(StatusNotSupported, m.GetArchiveStatus());
  }
  m.SetArchiveStatus(7);
  m.SetCryptKey();
  m.SetSetCryptKeyProc();
  EXPECT_EQ(7, m.GetArchiveStatus());
}

// Two 32-bit words for the host; two pointers wide in the native build.
TEST_F(StatusTest, GetMainCommentArcEmptiesTwoWordsOnly) {
  uintptr_t record[3] = {0xDEADBEEF, 0x12345678, 0xCAFEF00D};
  m.SetArchiveStatus(9);
  void* result = m.GetMainCommentArc(reinterpret_cast<FileMaskList*>(record));
  EXPECT_EQ(static_cast<void*>(record), result);
  EXPECT_EQ(0u, record[0]);
  EXPECT_EQ(0u, record[1]);
  EXPECT_EQ(0xCAFEF00Du, record[2]);
  EXPECT_EQ(9, m.GetArchiveStatus());
}
