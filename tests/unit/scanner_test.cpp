// The read-name rule: what a stored name becomes before it is matched and
// listed.
#include <gtest/gtest.h>

#include <cstring>

#include "tar/scanner.h"

TEST(ReadName, Table) {
  struct Row {
    int line;
    const char* raw;
    const char* want;
  } rows[] = {
      {__LINE__, "a/b/c.txt", "a\\b\\c.txt"},
      {__LINE__, "a\\b", "a\\b"},
      {__LINE__, "/abs/x", "abs\\x"},
      {__LINE__, "\\abs\\x", "abs\\x"},
      {__LINE__, "//x", "\\x"},  // only one separator goes
      {__LINE__, "C:/d/x", "d\\x"},
      {__LINE__, "c:\\x", "x"},
      {__LINE__, "/C:/x", "x"},
      {__LINE__, "1:/x", "x"},  // any character before the colon
      {__LINE__, "C:", ""},
      {__LINE__, "C:x", ""},    // three characters go, whatever the third
      {__LINE__, "C:/", ""},
      {__LINE__, "ab:/x", "ab:\\x"},
      {__LINE__, "../x", "x"},
      {__LINE__, "../../x", "..\\x"},  // only one pair of dots goes
      {__LINE__, "..", ""},
      {__LINE__, "..x", ""},
      {__LINE__, "..abc", "bc"},
      {__LINE__, "/../x", "x"},
      {__LINE__, "C:/../x", "x"},
      {__LINE__, "/C:/../../x", "..\\x"},
      {__LINE__, "../C:/x", "C:\\x"},  // the drive comes before the dots
      {__LINE__, "./x", ".\\x"},
      {__LINE__, ".x", ".x"},
      {__LINE__, "/", ""},
      {__LINE__, "", ""},
      {__LINE__, "\x81\xE1/\x8E", "\x81\xE1\\\x8E"},  // bytes above 0x7F stay
  };
  for (const Row& row : rows) {
    char result[256];
    memset(result, 'Q', sizeof result);
    ReadName(row.raw, result, sizeof result);
    EXPECT_STREQ(row.want, result) << "line " << row.line << ": " << row.raw;
  }
}
