// The reader against input that never ends, very long lines and many groups.

#include "shape/suf.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>

#include "shape/shape.h"
#include "base/sjis.h"

namespace vesk::detail {
// Defined in the reader: LoadSuf with a chosen read size and longest line.
TVESK_Object* LoadSufWithLimits(const std::string& fileName, std::size_t chunkSize,
                                std::size_t maxLine);
} // namespace vesk::detail

using namespace vesk;

namespace {

std::string TempPath(const char* name) {
    return (std::filesystem::path(testing::TempDir()) / name).string();
}

void WriteFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string GrammarMessage(int line) {
    return Cp932FromUtf8("形状データの文法が") + std::to_string(line) +
           Cp932FromUtf8("行において変です。");
}

struct Chain {
    TVESK_Object* first = nullptr;
    explicit Chain(TVESK_Object* f) : first(f) {}
    Chain(const Chain&) = delete;
    ~Chain() { FreeSuf(first); }
};

TEST(SufReaderLimits, EndlessInputEndsWithTheGrammarMessage) {
    Chain chain(LoadSuf("/dev/zero"));
    EXPECT_EQ(chain.first, nullptr);
    EXPECT_EQ(SufError, GrammarMessage(1));
}

TEST(SufReaderLimits, LineLongerThanTheLimitIsRefusedAtItsLine) {
    constexpr std::size_t kLimit = 40;
    const std::string head = "obj suf a {\r\natr G\r\n";
    const std::string path = TempPath("limits.suf");
    // A line of a long word, of white space, or of a name; every read size.
    for (const char fill : {'x', ' ', '\0'}) {
        for (const std::size_t length : {kLimit, kLimit + 1}) {
            const std::string text = head + std::string(length, fill) + "\r\n}\r\n";
            WriteFile(path, text);
            for (std::size_t chunk = 1; chunk <= text.size() + 1; chunk += 3) {
                Chain chain(detail::LoadSufWithLimits(path, chunk, kLimit));
                if (length == kLimit) {
                    ASSERT_NE(chain.first, nullptr) << int(fill) << " " << chunk;
                    EXPECT_EQ(SufError, "");
                } else {
                    ASSERT_EQ(chain.first, nullptr) << int(fill) << " " << chunk;
                    ASSERT_EQ(SufError, GrammarMessage(3)) << int(fill) << " " << chunk;
                }
            }
        }
    }
    // The last line of a file, without a line end after it, counts too.
    WriteFile(path, head + std::string(kLimit + 1, 'y'));
    Chain last(detail::LoadSufWithLimits(path, 7, kLimit));
    EXPECT_EQ(last.first, nullptr);
    EXPECT_EQ(SufError, GrammarMessage(3));
    std::remove(path.c_str());
}

TEST(SufReaderLimits, LfOnlyFilesReadAtAnyLengthBelowTheLimitPerLine) {
    // LF-only line ends make one line for the count, but each stretch between
    // them is short: such a file reads however long it is.
    constexpr std::size_t kLimit = 40;
    std::string text = "obj suf a {\natr G\n";
    for (int i = 0; i < 50; ++i)
        text += "prim poly (\n    1 2 3\n)\n";
    text += "}\n";
    const std::string path = TempPath("lfonly.suf");
    WriteFile(path, text);
    Chain chain(detail::LoadSufWithLimits(path, 16, kLimit));
    ASSERT_NE(chain.first, nullptr) << SufError;
    int count = 0;
    for (const TVESK_Polygon* p = chain.first->Polygons; p != nullptr; p = p->Next)
        ++count;
    EXPECT_EQ(count, 50);
    std::remove(path.c_str());
}

TEST(SufReaderLimits, PipeReadsToItsEnd) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    std::thread writer([fd = ends[1]] {
        const std::string text = "obj suf piped {\r\n}\r\nobj suf second {\r\n}\r\n";
        for (std::size_t done = 0; done < text.size();) {
            const ssize_t n = write(fd, text.data() + done, text.size() - done);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        close(fd);
    });
    Chain chain(LoadSuf("/proc/self/fd/" + std::to_string(ends[0])));
    writer.join();
    close(ends[0]);
    ASSERT_NE(chain.first, nullptr);
    EXPECT_EQ(chain.first->Name, "piped");
    ASSERT_NE(chain.first->Next, nullptr);
    EXPECT_EQ(chain.first->Next->Name, "second");
}

TEST(SufReaderLimits, ManyGroupsKeepTheFirstMatchAcrossObjects) {
    // Groups named again in later objects, and new ones in between: each
    // "atr" reuses the group of that name, whichever object made it.
    constexpr int kGroups = 5000;
    std::string text;
    for (int object = 0; object < 3; ++object) {
        text += "obj suf o" + std::to_string(object) + " {\r\n";
        for (int g = 0; g < kGroups; ++g) {
            const int name = object == 1 ? kGroups - 1 - g : g + object * (kGroups / 4);
            text += "atr g" + std::to_string(name) + "\r\nprim poly ( )\r\n";
        }
        text += "}\r\n";
    }
    const std::string path = TempPath("groups.suf");
    WriteFile(path, text);
    Chain chain(LoadSuf(path));
    std::remove(path.c_str());
    ASSERT_NE(chain.first, nullptr) << SufError;
    std::vector<std::string> names;
    std::vector<const TVESK_Attribute*> byName(kGroups * 2, nullptr);
    int distinct = 0;
    for (const TVESK_Object* o = chain.first; o != nullptr; o = o->Next) {
        for (const TVESK_Polygon* p = o->Polygons; p != nullptr; p = p->Next) {
            ASSERT_NE(p->Attribute, nullptr);
            const int index = std::stoi(p->Attribute->Name.substr(1));
            if (byName[index] == nullptr) {
                byName[index] = p->Attribute;
                ++distinct;
            }
            ASSERT_EQ(byName[index], p->Attribute) << p->Attribute->Name;
        }
    }
    EXPECT_EQ(distinct, kGroups + kGroups / 2);
    // The last object's list holds every group once, newest first.
    int listed = 0;
    const TVESK_Object* last = chain.first->Next->Next;
    for (const TVESK_Attribute* a = last->Attributes; a != nullptr; a = a->Next)
        ++listed;
    EXPECT_EQ(listed, distinct);
    EXPECT_EQ(last->Attributes->Name,
              std::string("g").append(std::to_string(kGroups + kGroups / 2 - 1)));
}

} // namespace
