// Saves that cannot succeed, through the window's save command: a read-only folder, a read-only
// file, a full disk (a file size limit, and a tiny tmpfs where one can be mounted), a path of
// 255 characters (saved) and longer ones (refused). Each failure shows the writer's text under
// "ERROR" and "no save file" under the path; the file that was there is left byte for byte as it
// was and no temporary file is left behind.
#include <pwd.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <csignal>
#include <cstring>

#include "FormFixture.h"
#include "wavfile/WavFile.h"

using namespace sonabi;

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Root writes anywhere. For the length of a test the calling thread takes the user and group of
// "nobody" (real and effective; the saved ids stay root, so it can change back), as if an
// ordinary user ran the program: permission checks, access() included, then apply. Raw system
// calls change only this thread's credentials.
class AsOrdinaryUser {
  public:
    AsOrdinaryUser() {
        if (geteuid() != 0) {
            ok_ = true;
            return;
        }
        const passwd* nobody = getpwnam("nobody");
        if (!nobody) return;
        uid_ = nobody->pw_uid;
        gid_ = nobody->pw_gid;
        if (syscall(SYS_setresgid, gid_, gid_, 0) != 0) return;
        if (syscall(SYS_setresuid, uid_, uid_, 0) != 0) {
            syscall(SYS_setresgid, 0, 0, 0);
            return;
        }
        ok_ = switched_ = true;
    }
    ~AsOrdinaryUser() {
        if (!switched_) return;
        syscall(SYS_setresuid, 0, 0, 0);
        syscall(SYS_setresgid, 0, 0, 0);
    }
    bool ok() const { return ok_; }
    bool switched() const { return switched_; }
    uid_t uid() const { return uid_; }
    gid_t gid() const { return gid_; }

  private:
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    bool ok_ = false, switched_ = false;
};

class BadSaves : public FormTest {
  protected:
    void SetUp() override {
        FormTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        // The window holds one second of a 16-bit mono tone (88200 bytes).
        std::vector<uint8_t> tone(88200);
        for (size_t i = 0; i < tone.size(); i += 2) {
            const auto s = static_cast<int16_t>(5000 * std::sin(i * 0.05));
            std::memcpy(&tone[i], &s, 2);
        }
        const WAVEFORMATEX f = MakePcmFormat(1, 16, 44100);
        const QString source = dir.filePath("source.wav");
        ASSERT_EQ(WriteWaveFile(source.toStdString(), f, tone.data(), 88200), "");
        form->OpenPath(source);
        ASSERT_EQ(form->WaveDataSize, 88200u);
        held = ReadAll(source);
        old = QByteArray("RIFF not a sound, but the user's file that was here", 51);
        messages.clear();
        confirmAnswer = Answer::Yes;
    }

    // Saves over `path`, which holds `old`; the save must fail with `text`.
    void ExpectRefusedSave(const QString& path, const std::string& text) {
        SCOPED_TRACE(path.toStdString());
        messages.clear();
        saveName = path;
        form->SaveClick();
        ASSERT_EQ(messages.size(), 2u);
        EXPECT_EQ(messages[0].text.toStdString(), text);
        EXPECT_EQ(messages[0].caption, "ERROR");
        EXPECT_EQ(messages[1].text, "no save file");
        EXPECT_EQ(messages[1].caption, path);
        EXPECT_EQ(ReadAll(path), old) << "the file that was there was changed";
        ExpectNoTemporaryFiles(QFileInfo(path).absolutePath());
        EXPECT_TRUE(form->WaveDataHeld) << "the held sound is still there to save elsewhere";
    }

    void ExpectNoTemporaryFiles(const QString& folder) {
        const QStringList left = QDir(folder).entryList({".sonabi-*"}, QDir::Files | QDir::Hidden);
        EXPECT_TRUE(left.isEmpty()) << left.join(' ').toStdString();
    }

    QTemporaryDir dir;
    QByteArray held, old;
};

TEST_F(BadSaves, ReadOnlyFolderOrFileIsLeftAsItWas) {
    // Laid out while still root: a folder nobody may write holding a file the user may write,
    // and a folder the user owns holding a file without write permission.
    const bool root = geteuid() == 0;
    const passwd* nobody = getpwnam("nobody");
    if (root && !nobody) GTEST_SKIP() << "running as root and there is no user 'nobody'";
    auto own = [&](const QString& path) {
        if (root)
            ASSERT_EQ(chown(path.toLocal8Bit().constData(), nobody->pw_uid, nobody->pw_gid), 0);
    };
    ASSERT_EQ(chmod(dir.path().toLocal8Bit().constData(), 0755), 0);
    const QString folder = dir.filePath("readonly");
    ASSERT_TRUE(QDir().mkdir(folder));
    const QString inFolder = folder + "/take.wav";
    ASSERT_TRUE(WriteAll(inFolder, old));
    own(inFolder);
    ASSERT_EQ(chmod(folder.toLocal8Bit().constData(), 0555), 0);
    const QString mine = dir.filePath("mine");
    ASSERT_TRUE(QDir().mkdir(mine));
    own(mine);
    const QString readOnlyFile = mine + "/locked.wav";
    ASSERT_TRUE(WriteAll(readOnlyFile, old));
    own(readOnlyFile);
    ASSERT_EQ(chmod(readOnlyFile.toLocal8Bit().constData(), 0444), 0);

    {
        AsOrdinaryUser user;
        if (!user.ok()) GTEST_SKIP() << "cannot take the user 'nobody' for this thread";
        ExpectRefusedSave(inFolder, "No File");
        // A new name in the same folder cannot be created either.
        messages.clear();
        saveName = folder + "/new.wav";
        form->SaveClick();
        ASSERT_EQ(messages.size(), 2u);
        EXPECT_EQ(messages[0].text, "No File");
        EXPECT_FALSE(QFile::exists(saveName));
        ExpectRefusedSave(readOnlyFile, "No File");
        // A file the user may write, in a folder of their own, is replaced as usual.
        messages.clear();
        saveName = mine + "/new.wav";
        form->SaveClick();
        EXPECT_TRUE(messages.empty());
        EXPECT_EQ(ReadAll(saveName), held);
    }
    chmod(folder.toLocal8Bit().constData(), 0755);
}

TEST_F(BadSaves, FileSizeLimitFailsTheSampleWriteAndKeepsTheOldFile) {
    const QString path = dir.filePath("take.wav");
    ASSERT_TRUE(WriteAll(path, old));
    // Writing past the limit fails with EFBIG instead of ending the process.
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limit = saved;
    limit.rlim_cur = 10000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    ExpectRefusedSave(path, "No Write");
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    // With room again the same save goes through.
    messages.clear();
    form->SaveClick();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(ReadAll(path), held);
}

TEST_F(BadSaves, FullDiskKeepsTheOldFile) {
    const QString mountPoint = dir.filePath("tiny");
    ASSERT_TRUE(QDir().mkdir(mountPoint));
    const QByteArray point = mountPoint.toLocal8Bit();
    if (mount("tmpfs", point.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") != 0)
        GTEST_SKIP() << "no tmpfs can be mounted here (" << std::strerror(errno)
                     << "); the file size limit test covers a full disk";
    struct Unmount {
        QByteArray point;
        ~Unmount() { umount(point.constData()); }
    } unmount{point};
    const QString path = mountPoint + "/take.wav";
    // An old take of 20 KB and some other file leave less room than the new 88 KB take needs.
    old = QByteArray(20000, '\x5a');
    ASSERT_TRUE(WriteAll(path, old));
    ASSERT_TRUE(WriteAll(mountPoint + "/other", QByteArray(20000, '\x11')));
    ExpectRefusedSave(path, "No Write");
}

TEST_F(BadSaves, PathOf255CharactersIsSavedAndLongerOnesAreRefused) {
    // A path of exactly 255 characters: saved, over the file that was there.
    const QString base = dir.path() + "/";
    const QString name255 = base + QString(255 - base.size() - 4, 'a') + ".wav";
    ASSERT_EQ(name255.size(), 255);
    ASSERT_TRUE(WriteAll(name255, old));
    saveName = name255;
    form->SaveClick();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(confirmations.size(), 1) << "the overwrite question is asked";
    EXPECT_EQ(ReadAll(name255), held);
    ExpectNoTemporaryFiles(dir.path());

    // 252 characters without the extension: with ".wav" added the path is 256 long.
    const QString stem256 = base + QString(256 - base.size() - 4, 'b');
    ASSERT_TRUE(WriteAll(stem256 + ".wav", old));
    messages.clear();
    saveName = stem256;
    form->SaveClick();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, "No File");
    EXPECT_EQ(messages[1].caption, stem256 + ".wav");
    EXPECT_EQ(ReadAll(stem256 + ".wav"), old);

    // A file deep in folders, 300 characters from the root: refused, not cut to another name.
    QString folder = base + QString(120, 'c');
    ASSERT_TRUE(QDir().mkpath(folder + "/" + QString(120, 'd')));
    folder += "/" + QString(120, 'd');
    const QString name300 = folder + "/" + QString(300 - folder.size() - 5, 'e') + ".wav";
    ASSERT_EQ(name300.size(), 300);
    ASSERT_TRUE(WriteAll(name300, old));
    ExpectRefusedSave(name300, "No File");
}

}  // namespace
