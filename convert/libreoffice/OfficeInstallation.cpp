#include "convert/libreoffice/OfficeInstallation.h"

#include "BuildConfig.h"
#include "shell/Failure.h"
#include "shell/FileSystem.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>
#include <QXmlStreamReader>

#include <functional>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace docuflume::office {
namespace {

constexpr int kProfileSlots = 64;
// What a profile set up with this program's settings records; profiles of earlier settings
// (links written absolute, which made every picture's link point into the staging folder;
// remote links fetched) are set up again.
constexpr char kReadyMark[] =
    "set up, links as the office writes them, remote links blocked, no remote places\n";

// Hands every value an .xcd file of the shared configuration sets to `take`, with its path
// ("org.openoffice.Setup/Product/ooSetupVersion"), until it answers false.
void forEachSharedValue(const QString& file,
                        const std::function<bool(const QString&, const QString&)>& take)
{
    QFile xcd(file);
    if (!xcd.open(QIODevice::ReadOnly))
        return;
    QXmlStreamReader xml(&xcd);
    QStringList path; // empty outside the data, where the schemas' defaults stand
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        const QStringView element = xml.name();
        if (token == QXmlStreamReader::StartElement) {
            const QStringView name = xml.attributes().value(QStringLiteral("oor:name"));
            if (element == u"component-data") {
                path =
                    QStringList{xml.attributes().value(QStringLiteral("oor:package")).toString() +
                                u'.' + name.toString()};
            } else if (path.isEmpty()) {
                continue;
            } else if (element == u"node" || element == u"prop") {
                path.append(name.toString());
            } else if (element == u"value") {
                if (!take(path.join(u'/'),
                          xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed()))
                    return;
            }
        } else if (token == QXmlStreamReader::EndElement && !path.isEmpty()) {
            if (element == u"component-data")
                path.clear();
            else if (element == u"node" || element == u"prop")
                path.removeLast();
        }
    }
}

QString readVersion(const QString& programFolder)
{
    // The installed major.minor stands in the shared configuration, a seventh of the way
    // into its 2 MB.
    QString version;
    forEachSharedValue(programFolder + QStringLiteral("/../share/registry/main.xcd"),
                       [&version](const QString& path, const QString& value) {
                           if (path != u"org.openoffice.Setup/Product/ooSetupVersion")
                               return true;
                           version = value;
                           return false;
                       });
    static const QRegularExpression majorMinor(QStringLiteral("^[0-9]+\\.[0-9]+$"));
    return majorMinor.match(version).hasMatch() ? version : QString();
}

// The content providers the installation configures that reach other hosts (WebDAV and
// HTTP, FTP, GIO's and CMIS's remote places), by the names of their configuration nodes.
QStringList remoteContentProviders(const QString& programFolder)
{
    static const QStringList remote = {QStringLiteral("com.sun.star.ucb.WebDAVContentProvider"),
                                       QStringLiteral("com.sun.star.ucb.FTPContentProvider"),
                                       QStringLiteral("com.sun.star.ucb.GIOContentProvider"),
                                       QStringLiteral("com.sun.star.ucb.GnomeVFSContentProvider"),
                                       QStringLiteral("com.sun.star.ucb.CmisContentProvider")};
    const QString providers = QStringLiteral(
        "org.openoffice.ucb.Configuration/ContentProviders/Local/SecondaryKeys/Office/"
        "ProviderData/");
    const QString service = QStringLiteral("/ServiceName");
    QStringList found;
    const QDir registry(programFolder + QStringLiteral("/../share/registry"));
    for (const QString& file : registry.entryList({QStringLiteral("*.xcd")}, QDir::Files)) {
        forEachSharedValue(registry.filePath(file), [&](const QString& path, const QString& value) {
            if (path.startsWith(providers) && path.endsWith(service) && remote.contains(value))
                found << path.sliced(providers.size()).chopped(service.size());
            return true;
        });
    }
    return found;
}

bool hasWriterUi(const QString& programFolder)
{
    return !QDir(programFolder + QStringLiteral("/../share/config/soffice.cfg/modules/swriter/ui"))
                .entryList({QStringLiteral("*.ui")}, QDir::Files)
                .isEmpty();
}

// The profile's settings: an instance starts without its first-run checks, and fetches
// nothing from other hosts.
QByteArray seed(const Installation& installation)
{
    QByteArray items;
    if (!installation.version.isEmpty()) {
        // A profile that records the running version skips the graphics self-test at start.
        items += "<item oor:path=\"/org.openoffice.Setup/Product\"><prop "
                 "oor:name=\"ooSetupLastVersion\" oor:op=\"fuse\"><value>" +
                 installation.version.toUtf8() + "</value></prop></item>\n";
    }
    // Nothing a document links to on another host is fetched (a linked picture would tell
    // its author when and where the document was opened); the page keeps the link. The
    // office checks where a link comes from before it fetches a picture; other readers (the
    // .doc filter looks up every linked picture first) ask no such thing, so the office
    // gets no way to reach another host at all.
    items += "<item oor:path=\"/org.openoffice.Office.Common/Security/Scripting\"><prop "
             "oor:name=\"BlockUntrustedRefererLinks\" oor:op=\"fuse\"><value>true</value>"
             "</prop></item>\n";
    for (const QString& provider : remoteContentProviders(installation.programFolder)) {
        items += "<item oor:path=\"/org.openoffice.ucb.Configuration/ContentProviders/Local/"
                 "SecondaryKeys/Office/ProviderData\"><node oor:name=\"" +
                 provider.toHtmlEscaped().toUtf8() + "\" oor:op=\"remove\"/></item>\n";
    }
    items += "<item oor:path=\"/org.openoffice.Office.Common/Misc\"><prop oor:name=\"FirstRun\" "
             "oor:op=\"fuse\"><value>false</value></prop></item>\n";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
           "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n" +
           items + "</oor:items>\n";
}

} // namespace

void seedProfile(const QString& folder, const Installation& installation)
{
    QDir().mkpath(folder + QStringLiteral("/user"));
    QFile file(folder + QStringLiteral("/user/registrymodifications.xcu"));
    if (file.open(QIODevice::WriteOnly))
        file.write(seed(installation));
}

std::optional<Installation> Installation::at(const QString& programFolder)
{
    if (!QFileInfo(programFolder + QStringLiteral("/soffice.bin")).isExecutable() ||
        !QFileInfo::exists(programFolder + QStringLiteral("/fundamentalrc")))
        return std::nullopt;
    return Installation{QDir(programFolder).canonicalPath(), readVersion(programFolder),
                        hasWriterUi(programFolder)};
}

std::optional<Installation> Installation::find()
{
    // The one the program was built against comes first: its UNO libraries are ours.
    QStringList candidates = {QStringLiteral(DOCUFLUME_LIBREOFFICE_PROGRAM_DIR),
                              QStringLiteral("/usr/lib/libreoffice/program"),
                              QStringLiteral("/usr/lib64/libreoffice/program")};
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (!onPath.isEmpty())
        candidates << QFileInfo(QFileInfo(onPath).canonicalFilePath()).absolutePath();
    for (const QString& folder :
         QDir(QStringLiteral("/opt"))
             .entryList({QStringLiteral("libreoffice*")}, QDir::Dirs | QDir::NoDotAndDotDot))
        candidates << QStringLiteral("/opt/") + folder + QStringLiteral("/program");
    for (const QString& candidate : candidates) {
        if (auto installation = at(candidate))
            return installation;
    }
    return std::nullopt;
}

QString profileRoot()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/docuflume/libreoffice");
}

QString temporaryFolder(const QString& profileFolder)
{
    return profileFolder + QStringLiteral("/tmp");
}

void tidyProfile(const QString& profileFolder)
{
    // A link in its place is removed, never listed through.
    if (QFileInfo(temporaryFolder(profileFolder)).isSymLink())
        fs::removeTree(temporaryFolder(profileFolder));
    QDir temporary(temporaryFolder(profileFolder));
    for (const QString& name :
         temporary.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        fs::removeTree(temporary.filePath(name));
    // The office names that pipe after an MD5 of its profile's URL as it was given, in
    // UTF-16LE, each byte in hex without padding.
    const QString url = QString::fromLatin1(QUrl::fromLocalFile(profileFolder).toEncoded());
    const QByteArray digest = QCryptographicHash::hash(
        QByteArray(reinterpret_cast<const char*>(url.utf16()), url.size() * 2),
        QCryptographicHash::Md5);
    QString hex;
    for (const char byte : digest)
        hex += QString::number(uchar(byte), 16);
    QFile::remove(QStringLiteral("/tmp/OSL_PIPE_%1_SingleOfficeIPC_%2").arg(::getuid()).arg(hex));
}

void tidyFreeProfiles(const QString& root)
{
    for (int slot = 0; slot < kProfileSlots; ++slot) {
        const QString folder = root + QStringLiteral("/profile-%1").arg(slot);
        const QByteArray lockPath = QFile::encodeName(folder + QStringLiteral(".lock"));
        const int fd = ::open(lockPath.constData(), O_RDWR | O_CLOEXEC);
        if (fd < 0)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            tidyProfile(folder);
        ::close(fd);
    }
}

std::unique_ptr<ProfileLease> ProfileLease::acquire(const QString& root,
                                                    const Installation& installation)
{
    if (!QDir().mkpath(root))
        throw Failure(Failure::PermissionDenied,
                      QStringLiteral("The folder %1 cannot be created.").arg(root));
    for (int slot = 0; slot < kProfileSlots; ++slot) {
        const QString folder = root + QStringLiteral("/profile-%1").arg(slot);
        const QByteArray lockPath = QFile::encodeName(folder + QStringLiteral(".lock"));
        const int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            continue;
        }
        std::unique_ptr<ProfileLease> lease(new ProfileLease(folder, fd));
        // A profile not set up with the settings of this program's version starts afresh.
        if (!lease->ready()) {
            fs::removeTree(folder);
            seedProfile(folder, installation);
        }
        tidyProfile(folder);
        return lease;
    }
    throw Failure(Failure::PermissionDenied,
                  QStringLiteral("No free LibreOffice profile folder in %1.").arg(root));
}

bool ProfileLease::ready() const
{
    QFile marker(m_folder + QStringLiteral("/docuflume-ready"));
    return marker.open(QIODevice::ReadOnly) && marker.readAll() == kReadyMark;
}

void ProfileLease::markReady()
{
    QFile marker(m_folder + QStringLiteral("/docuflume-ready"));
    if (marker.open(QIODevice::WriteOnly))
        marker.write(kReadyMark);
}

ProfileLease::~ProfileLease()
{
    ::close(m_lockFd); // releases the lock
}

bool foreignOfficeRunning(const QString& ourProfiles)
{
    const uid_t user = ::getuid();
    // Ours are started with their profile as a file URL below this folder.
    const QByteArray ours = QUrl::fromLocalFile(ourProfiles).toEncoded();
    const QStringList entries =
        QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool isPid = false;
        entry.toInt(&isPid);
        if (!isPid)
            continue;
        const QString folder = QStringLiteral("/proc/") + entry;
        if (QFileInfo(folder).ownerId() != user)
            continue;
        QFile stat(folder + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ...": an ended process that is not reaped yet runs nothing.
        const QByteArray status = stat.readAll();
        if (!status.contains("(soffice.bin) ") || status.contains("(soffice.bin) Z"))
            continue;
        // A process that has let go of its memory (its command line reads empty) is ending:
        // one of ours just told to quit, most likely.
        QFile commandLine(folder + QStringLiteral("/cmdline"));
        if (!commandLine.open(QIODevice::ReadOnly))
            continue;
        const QByteArray arguments = commandLine.readAll();
        if (arguments.isEmpty() || arguments.contains(ours))
            continue;
        return true;
    }
    return false;
}

} // namespace docuflume::office
