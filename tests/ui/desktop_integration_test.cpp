// The desktop integration as a desktop sees it: the entry and the metainfo pass their validators,
// and `cmake --install` puts the programs, the entry, the metainfo and every icon size in their
// XDG places under the prefix.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryDir>
#include <cstdlib>
#include <string>

namespace {

const QString kId = "io.orbweave.OStakka";

int run(const QString& command) {
  return std::system(command.toLocal8Bit().constData());
}

QString resources() {
  return QString(OSTAKKA_SOURCE_DIR) + "/resources";
}

}  // namespace

TEST(desktop_integration, entry_and_metainfo_pass_their_validators) {
  const QString entry = resources() + "/" + kId + ".desktop";
  const QString metainfo = resources() + "/" + kId + ".metainfo.xml";
  // desktop-file-validate reports hints on stdout with a zero exit; any line is a finding.
  EXPECT_EQ(run("test -z \"$(desktop-file-validate '" + entry + "' 2>&1)\""), 0);
  EXPECT_EQ(run("appstreamcli validate --no-net --strict '" + metainfo + "' >/dev/null"), 0);

  QFile file(entry);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
  const QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
  EXPECT_TRUE(lines.contains("Categories=Game;BlocksGame;"));
  EXPECT_TRUE(lines.contains("Icon=" + kId));
  EXPECT_TRUE(lines.contains("Exec=ostakka"));
}

TEST(desktop_integration, install_puts_everything_in_its_xdg_place) {
  QTemporaryDir prefix;
  ASSERT_TRUE(prefix.isValid());
  ASSERT_EQ(run(QString("cmake --install '%1' --prefix '%2' >/dev/null")
                    .arg(OSTAKKA_BUILD_DIR, prefix.path())),
            0);
  const QDir share(prefix.path() + "/share");
  EXPECT_TRUE(QFileInfo::exists(share.filePath("applications/" + kId + ".desktop")));
  EXPECT_TRUE(QFileInfo::exists(share.filePath("metainfo/" + kId + ".metainfo.xml")));
  EXPECT_EQ(run("desktop-file-validate '" + share.filePath("applications/" + kId + ".desktop") +
                "' >/dev/null"),
            0);
  for (int n : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const QString icon = share.filePath(QString("icons/hicolor/%1x%1/apps/%2.png").arg(n).arg(kId));
    EXPECT_EQ(QImageReader(icon).size(), QSize(n, n)) << icon.toStdString();
  }
  EXPECT_TRUE(QFileInfo::exists(share.filePath("icons/hicolor/scalable/apps/" + kId + ".svg")));

  // Every program this build made is installed, executable.
  int programs = 0;
  for (const char* name : {"ostakka", "ostakka-devnet", "korb", "ostakka-replay", "ostakka-board",
                           "ostakka-board-devnet"}) {
    if (!QFileInfo::exists(QString(OSTAKKA_BIN_DIR) + "/" + name)) continue;
    ++programs;
    EXPECT_TRUE(QFileInfo(prefix.path() + "/bin/" + name).isExecutable()) << name;
  }
  EXPECT_GT(programs, 0);
  EXPECT_FALSE(QFileInfo::exists(prefix.path() + "/bin/ostakka-art")) << "a build helper";
}
