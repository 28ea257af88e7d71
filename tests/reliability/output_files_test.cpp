// Result files that cannot be written: a read-only folder, a full disk, a name taken by a
// folder. The run must stop with the writer's message before the cartridge is touched,
// leave every older file as it was and no temporary file behind. The full and read-only
// disks are small tmpfs mounts made by the test (it needs the right to mount; it says so
// and skips when the system refuses).
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "emu_run.h"

namespace {

const std::string CANNOT_WRITE = "Error: ファイルを書き込めませんでした(";
const std::string OLDER_TEXT = "an older file\r\n";
const Bytes OLDER(OLDER_TEXT.begin(), OLDER_TEXT.end());
const Bytes CART = pattern(0x200, 77);
const Bytes IMAGE = pattern(0x200, 78);

// The folder where a run writes its files, with what it held before the run.
class OutputFolder {
public:
    // size_kib 0: a plain folder; otherwise a tmpfs of that size mounted on it.
    explicit OutputFolder(int size_kib = 0) {
        if (size_kib > 0) {
            std::string options = "size=" + std::to_string(size_kib) + "k";
            mounted_ = mount("tmpfs", folder.path().c_str(), "tmpfs", 0, options.c_str()) == 0;
            refusal_ = mounted_ ? "" : std::strerror(errno);
        }
        write_file(folder.file("game.sav"), IMAGE);
        for (const char* name : {"backup.txt", "backup.sav", "savedata.txt", "savedata.sav"}) {
            write_file(folder.file(name), OLDER);
        }
        write_file(cart_folder.file("cart.bin"), CART);
    }
    ~OutputFolder() {
        if (mounted_) umount2(folder.path().c_str(), MNT_DETACH);
    }

    bool mounted() const { return mounted_; }
    const std::string& refusal() const { return refusal_; }
    bool make_read_only() {
        return mount(nullptr, folder.path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }
    // Takes up what is left of the disk.
    void fill() {
        std::FILE* file = std::fopen(folder.file("filler").c_str(), "wb");
        ASSERT_NE(file, nullptr);
        static const char block[1024] = {};
        while (std::fwrite(block, 1, sizeof block, file) == sizeof block &&
               std::fflush(file) == 0) {}
        std::fclose(file);
    }

    EmuResult run(const std::string& tool_arguments) {
        before_ = folder.entries();
        return folder.run("--stats --chip m95040 --cart '" + cart_folder.file("cart.bin") + "' " +
                          tool_arguments);
    }

    // The run stopped at the named file, before the cartridge was touched, with every
    // older file intact and nothing new left behind.
    void expect_stopped_at(const EmuResult& r, const std::string& name) {
        SCOPED_TRACE(r.out + r.err);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.last_message(), CANNOT_WRITE + name + ")");
        EXPECT_EQ(read_file(cart_folder.file("cart.bin")), CART) << "cartridge untouched";
        EXPECT_EQ(folder.entries(), before_) << "no file added, none removed";
        for (const char* older : {"backup.txt", "backup.sav", "savedata.txt", "savedata.sav"}) {
            if (older == name) {
                // The name the run could not write: still the folder or the older file.
                EXPECT_TRUE(is_folder(folder.file(older)) || read_file(folder.file(older)) == OLDER)
                    << older;
                continue;
            }
            Bytes content = read_file(folder.file(older));
            bool replaced_completely =
                content ==
                (std::string(older).find(".txt") != std::string::npos ? text_dump(CART) : CART);
            EXPECT_TRUE(content == OLDER || replaced_completely) << older;
        }
    }

    ScratchFolder folder;
    ScratchFolder cart_folder;

private:
    bool mounted_ = false;
    std::string refusal_;
    std::vector<std::string> before_;
};

#define SKIP_UNLESS_MOUNTED(output)                                                  \
    if (!(output).mounted()) {                                                       \
        GTEST_SKIP() << "mounting a small tmpfs was refused (" << (output).refusal() \
                     << "): run as root to test full and read-only disks";           \
    }

TEST(OutputFiles, AReadOnlyFolderStopsEveryRunBeforeTheCartridge) {
    for (const char* run : {"", "-- game.sav", "-- -e"}) {
        OutputFolder output(64);
        SKIP_UNLESS_MOUNTED(output);
        ASSERT_TRUE(output.make_read_only());
        SCOPED_TRACE(run);
        output.expect_stopped_at(output.run(run), *run == '\0' ? "savedata.txt" : "backup.txt");
    }
}

TEST(OutputFiles, AFullDiskStopsEveryRunAndKeepsTheOlderFiles) {
    for (const char* run : {"", "-- game.sav", "-- -e"}) {
        OutputFolder output(32);
        SKIP_UNLESS_MOUNTED(output);
        output.fill();
        SCOPED_TRACE(run);
        output.expect_stopped_at(output.run(run), *run == '\0' ? "savedata.txt" : "backup.txt");
    }
}

TEST(OutputFiles, ANameTakenByAFolderStopsTheRunAtThatFile) {
    {
        OutputFolder output;
        std::remove(output.folder.file("savedata.sav").c_str());
        ASSERT_EQ(mkdir(output.folder.file("savedata.sav").c_str(), 0755), 0);
        output.expect_stopped_at(output.run(""), "savedata.sav");
    }
    for (const char* run : {"-- game.sav", "-- -e"}) {
        OutputFolder output;
        std::remove(output.folder.file("backup.txt").c_str());
        ASSERT_EQ(mkdir(output.folder.file("backup.txt").c_str(), 0755), 0);
        SCOPED_TRACE(run);
        output.expect_stopped_at(output.run(run), "backup.txt");
    }
}

}  // namespace
