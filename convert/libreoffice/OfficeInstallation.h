#pragma once

#include <QString>

#include <memory>
#include <optional>

// The LibreOffice installation the engine drives, and the private profiles its instances
// run in.
namespace docuflume::office {

struct Installation
{
    QString programFolder; // holds soffice.bin and fundamentalrc
    QString version;       // major.minor, as a profile records it; empty when unknown
    // Writer's user interface files are there. Without them (Debian's nogui variant) the
    // office aborts after loading many documents through UNO: it builds windows for
    // comments and the like from those files even when the document is hidden.
    bool writerUi = false;

    QString executable() const { return programFolder + QStringLiteral("/soffice.bin"); }

    // The installation this program was built against, or another one found in the usual
    // places; nothing when LibreOffice is not installed.
    static std::optional<Installation> find();
    // The installation whose program folder this is, if it is one.
    static std::optional<Installation> at(const QString& programFolder);
};

// Writes a profile's first settings: the version it has run (so the office skips its
// graphics self-test at start), no first-run wizard, and no way to other hosts.
void seedProfile(const QString& folder, const Installation& installation);

// One private profile folder, held by one live instance at a time (a lock file that the
// other instances of this and every other copy of the program see).
class ProfileLease
{
public:
    static std::unique_ptr<ProfileLease> acquire(const QString& root,
                                                 const Installation& installation);
    ~ProfileLease();
    ProfileLease(const ProfileLease&) = delete;
    ProfileLease& operator=(const ProfileLease&) = delete;

    const QString& folder() const { return m_folder; }
    // A profile that no instance has run in yet; the first start then ends itself and asks
    // to be started again, so such a profile is set up by a short run of its own first. A
    // profile that is not ready when acquired is emptied and seeded again.
    bool ready() const;
    void markReady();

private:
    ProfileLease(QString folder, int lockFd) : m_folder(std::move(folder)), m_lockFd(lockFd) {}
    QString m_folder;
    int m_lockFd;
};

// The folder an instance's temporary files go into, inside its profile folder.
QString temporaryFolder(const QString& profileFolder);
// Removes what an instance that has ended leaves of its own: its temporary files and the
// socket of the pipe every office opens for its profile.
void tidyProfile(const QString& profileFolder);
// The same for every profile folder below `root` that no instance holds now.
void tidyFreeProfiles(const QString& root);

// True when this user runs a LibreOffice that is not one of ours (ours live below
// `ourProfiles`).
bool foreignOfficeRunning(const QString& ourProfiles);

// The folder below which our private profiles live.
QString profileRoot();

} // namespace docuflume::office
