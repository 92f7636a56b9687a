// The desktop integration as a desktop sees it: the entry and the metainfo pass their validators,
// and `cmake --install` puts the programs, the entry, the metainfo and every icon size in their
// XDG places under the prefix.
#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryDir>
#include <cstdlib>

namespace {

const QString kId = "io.orbweave.OStakka";

int run(const QString& command) {
  return std::system(command.toLocal8Bit().constData());
}

}  // namespace

TEST(desktop_integration, install_puts_everything_validated_in_its_xdg_place) {
  QTemporaryDir prefix;
  ASSERT_EQ(run(QString("cmake --install '%1' --prefix '%2' >/dev/null")
                    .arg(OSTAKKA_BUILD_DIR, prefix.path())),
            0);
  const QString share = prefix.path() + "/share/";
  const QString entry = share + "applications/" + kId + ".desktop";
  // desktop-file-validate prints its hints with a zero exit: any output is a finding.
  EXPECT_EQ(run("test -z \"$(desktop-file-validate '" + entry + "' 2>&1)\""), 0);
  EXPECT_EQ(run("appstreamcli validate --no-net --strict '" + share + "metainfo/" + kId +
                ".metainfo.xml' >/dev/null"),
            0);
  QFile file(entry);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
  for (const QString& line :
       QStringList{"Categories=Game;BlocksGame;", "Exec=ostakka", "Icon=" + kId}) {
    EXPECT_TRUE(lines.contains(line)) << line.toStdString();
  }
  for (int n : {16, 22, 24, 32, 48, 64, 128, 256}) {
    EXPECT_EQ(
        QImageReader(share + QString("icons/hicolor/%1x%1/apps/%2.png").arg(n).arg(kId)).size(),
        QSize(n, n));
  }
  EXPECT_TRUE(QFileInfo::exists(share + "icons/hicolor/scalable/apps/" + kId + ".svg"));

  // Every program this build made is installed; the art generator is a build helper and is not.
  int programs = 0;
  for (const char* name : {"ostakka", "ostakka-devnet", "korb", "ostakka-replay", "ostakka-board",
                           "ostakka-board-devnet"}) {
    if (!QFileInfo::exists(QString(OSTAKKA_BIN_DIR) + "/" + name)) continue;
    ++programs;
    EXPECT_TRUE(QFileInfo(prefix.path() + "/bin/" + name).isExecutable()) << name;
  }
  EXPECT_GT(programs, 0);
  const QString key = "/userinfo/devnet/encpub-hollin.txt";
  EXPECT_EQ(QFileInfo::exists(prefix.path() + "/bin" + key),
            QFileInfo::exists(OSTAKKA_BIN_DIR + key));
  EXPECT_FALSE(QFileInfo::exists(prefix.path() + "/bin/ostakka-art"));
}
