#include "app/mpris.h"

#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>
#include <algorithm>
#include <cstdlib>
#include <functional>

namespace spherolux::app {

namespace {

const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kRoot = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kServiceName = QStringLiteral("org.mpris.MediaPlayer2.spherolux");
// The track id that means "no track"; our own ids live outside /org/mpris, which MPRIS
// reserves.
const QString kNoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");
const QString kTrackPrefix = QStringLiteral("/org/spherolux/track/");

constexpr int kPollMs = 250;
// A position that moved back by more than this, or ahead of steady playback by more than this,
// was sought. A loaded machine only makes playback fall behind, which is no seek.
constexpr int64_t kJumpMs = 1000;
// After a seek of ours the engine may still report the old position for a while.
constexpr int64_t kSeekSettleMs = 1000;

// The properties whose changes PropertiesChanged announces; Position never is (Seeked says
// when it jumps).
const char* const kAnnounced[] = {"PlaybackStatus", "Metadata", "Volume", "CanPlay", "CanPause", "CanSeek"};

const char kIntrospection[] = R"(
  <interface name="org.mpris.MediaPlayer2">
    <method name="Raise"/>
    <method name="Quit"/>
    <property name="CanQuit" type="b" access="read"/>
    <property name="CanRaise" type="b" access="read"/>
    <property name="HasTrackList" type="b" access="read"/>
    <property name="Identity" type="s" access="read"/>
    <property name="DesktopEntry" type="s" access="read"/>
    <property name="SupportedUriSchemes" type="as" access="read"/>
    <property name="SupportedMimeTypes" type="as" access="read"/>
  </interface>
  <interface name="org.mpris.MediaPlayer2.Player">
    <method name="Next"/>
    <method name="Previous"/>
    <method name="Pause"/>
    <method name="PlayPause"/>
    <method name="Stop"/>
    <method name="Play"/>
    <method name="Seek"><arg name="Offset" type="x" direction="in"/></method>
    <method name="SetPosition">
      <arg name="TrackId" type="o" direction="in"/>
      <arg name="Position" type="x" direction="in"/>
    </method>
    <method name="OpenUri"><arg name="Uri" type="s" direction="in"/></method>
    <signal name="Seeked"><arg name="Position" type="x"/></signal>
    <property name="PlaybackStatus" type="s" access="read"/>
    <property name="Rate" type="d" access="readwrite"/>
    <property name="Metadata" type="a{sv}" access="read"/>
    <property name="Volume" type="d" access="readwrite"/>
    <property name="Position" type="x" access="read"/>
    <property name="MinimumRate" type="d" access="read"/>
    <property name="MaximumRate" type="d" access="read"/>
    <property name="CanGoNext" type="b" access="read"/>
    <property name="CanGoPrevious" type="b" access="read"/>
    <property name="CanPlay" type="b" access="read"/>
    <property name="CanPause" type="b" access="read"/>
    <property name="CanSeek" type="b" access="read"/>
    <property name="CanControl" type="b" access="read"/>
  </interface>
)";

// What can be done with what is shown. A photo neither plays nor seeks; a stopped video plays
// (it is opened again) but cannot be sought until it is.
bool CanPlay(const MprisStatus& s) { return s.kind == MprisStatus::Kind::kVideo; }
bool CanSeek(const MprisStatus& s) { return CanPlay(s) && s.open && s.length_ms > 0; }

QString PlaybackStatus(const MprisStatus& s) {
  if (s.playing) return QStringLiteral("Playing");
  return s.kind == MprisStatus::Kind::kVideo && s.open ? QStringLiteral("Paused") : QStringLiteral("Stopped");
}

}  // namespace

class Mpris::Object : public QDBusVirtualObject {
 public:
  explicit Object(MprisSource* source) : source_(source) {
    status_ = source_->RemoteStatus();
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
  }

  ~Object() override {
    if (service_.isEmpty()) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(service_);
    bus.unregisterObject(kObjectPath);
  }

  // Takes the object path and a bus name; false (and nothing held) when there is no bus.
  bool Register() {
    // Without an address libdbus would try to start a bus of its own (autolaunch).
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address == nullptr || *address == '\0') return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.registerVirtualObject(kObjectPath, this)) return false;
    // A second instance takes a name of its own, as MPRIS allows.
    for (const QString& name : {kServiceName, kServiceName + ".instance" + QString::number(getpid())}) {
      if (bus.registerService(name)) {
        service_ = name;
        since_poll_.start();
        timer_.start(kPollMs);
        return true;
      }
    }
    bus.unregisterObject(kObjectPath);
    return false;
  }

  const QString& service() const { return service_; }

  QString introspect(const QString&) const override { return QString::fromLatin1(kIntrospection); }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    const QString member = message.member(), signature = message.signature();
    // A call may leave the interface out; what is not ours (introspection) is left to Qt.
    const bool unnamed = message.interface().isEmpty();
    const QString interface = !unnamed ? message.interface() : member == "Raise" || member == "Quit" ? kRoot : kPlayer;
    if (interface == kProperties) {
      connection.send(PropertiesCall(message));
      return true;
    }
    if (interface != kRoot && interface != kPlayer) return false;
    const std::function<void()> action = Method(interface, member, signature, message.arguments());
    if (!action) {
      if (unnamed) return false;
      const bool other_scheme = member == "OpenUri" && signature == "s";
      connection.send(other_scheme
                          ? message.createErrorReply(QDBusError::NotSupported, "Only file: URIs are opened")
                          : message.createErrorReply(QDBusError::UnknownMethod,
                                                     "No " + interface + "." + member + "(" + signature + ")"));
      return true;
    }
    // The reply goes first: the command may open a message box (a refused file) whose loop
    // would otherwise hold the caller, and Quit ends the process.
    connection.send(message.createReply());
    RunSoon(action);
    return true;
  }

 private:
  // Runs a command once the call is answered, and announces what it changed.
  void RunSoon(std::function<void()> action) {
    QTimer::singleShot(0, this, [this, action = std::move(action)] {
      action();
      Poll();
    });
  }

  // The command a method call asks for, run after the reply; empty for an unknown method or
  // wrong arguments. Each one looks at the status when it runs.
  std::function<void()> Method(const QString& interface, const QString& member, const QString& signature,
                               const QList<QVariant>& args) {
    auto command = [this](MprisCommand c, double value = 0) {
      return [this, c, value] { source_->RemoteCommand(c, value); };
    };
    if (interface == kRoot) {
      if (member == "Raise" && signature.isEmpty()) return command(MprisCommand::kRaise);
      if (member == "Quit" && signature.isEmpty()) return command(MprisCommand::kQuit);
      return {};
    }
    if (signature.isEmpty()) {
      if (member == "Next" || member == "Previous") return [] {};
      if (member == "Play" || member == "Pause" || member == "PlayPause") {
        return [this, member] {
          const MprisStatus s = source_->RemoteStatus();
          // Pause pauses what plays, Play plays what does not, PlayPause does either.
          bool wanted = s.playing;
          if (member == "Play") wanted = !s.playing && CanPlay(s);
          if (member == "PlayPause") wanted = s.playing || CanPlay(s);
          if (wanted) source_->RemoteCommand(MprisCommand::kPlayPause, 0);
        };
      }
      if (member == "Stop") {
        return [this] {
          const MprisStatus s = source_->RemoteStatus();
          if (CanPlay(s) && s.open) source_->RemoteCommand(MprisCommand::kStop, 0);
        };
      }
    }
    if (member == "Seek" && signature == "x") {
      const qint64 offset_us = args[0].toLongLong();
      return [this, offset_us] {
        const MprisStatus s = source_->RemoteStatus();
        if (!CanSeek(s)) return;
        // Before the start means the start; past the end means the next track, and there is none.
        const int64_t target = std::max<int64_t>(0, s.position_ms + offset_us / 1000);
        if (target <= s.length_ms) SeekTo(target);
      };
    }
    if (member == "SetPosition" && signature == "ox") {
      const QString track = qvariant_cast<QDBusObjectPath>(args[0]).path();
      const qint64 position_us = args[1].toLongLong();
      return [this, track, position_us] {
        const MprisStatus s = source_->RemoteStatus();
        // A stale track id or a place outside the track is ignored.
        const int64_t target = position_us / 1000;
        if (CanSeek(s) && track == TrackId() && position_us >= 0 && target <= s.length_ms) SeekTo(target);
      };
    }
    if (member == "OpenUri" && signature == "s") {
      const QUrl url(args[0].toString());
      if (!url.isLocalFile()) return {};
      const std::string path = QFile::encodeName(url.toLocalFile()).toStdString();
      return [this, path] { source_->RemoteOpen(path); };
    }
    return {};
  }

  QDBusMessage PropertiesCall(const QDBusMessage& message) {
    const QList<QVariant> args = message.arguments();
    const QString member = message.member(), signature = message.signature();
    // The status answered is the one announced: a change is signalled before the reply.
    Poll();
    const MprisStatus& now = status_;
    if (member == "GetAll" && signature == "s") {
      if (args[0] != kRoot && args[0] != kPlayer) {
        return message.createErrorReply(QDBusError::UnknownInterface, "No interface " + args[0].toString());
      }
      return message.createReply(QVariant::fromValue(Properties(args[0].toString(), now)));
    }
    if (member == "Get" && signature == "ss") {
      const QVariantMap all = Properties(args[0].toString(), now);
      const QString name = args[1].toString();
      if (all.contains(name)) return message.createReply(QVariant::fromValue(QDBusVariant(all.value(name))));
      return message.createErrorReply(QDBusError::UnknownProperty, "No property " + name);
    }
    if (member == "Set" && signature == "ssv") {
      const QString name = args[1].toString();
      const QVariant value = qvariant_cast<QDBusVariant>(args[2]).variant();
      if (args[0] == kPlayer && name == "Volume") {
        bool ok = false;
        const double volume = value.toDouble(&ok);
        if (!ok) return message.createErrorReply(QDBusError::InvalidArgs, "Volume is a number");
        // Below 0 means silence; we do not amplify beyond the slider's end.
        RunSoon([this, volume] { source_->RemoteCommand(MprisCommand::kVolume, std::clamp(volume, 0.0, 1.0)); });
        return message.createReply();
      }
      // Only the normal rate is played; another one asked for changes nothing.
      if (args[0] == kPlayer && name == "Rate") return message.createReply();
      if (Properties(args[0].toString(), now).contains(name)) {
        return message.createErrorReply(QDBusError::PropertyReadOnly, name + " is read-only");
      }
      return message.createErrorReply(QDBusError::UnknownProperty, "No property " + name);
    }
    return message.createErrorReply(QDBusError::InvalidArgs, "No " + member + " with signature " + signature);
  }

  QVariantMap Properties(const QString& interface, const MprisStatus& s) const {
    if (interface == kRoot) {
      return {
          {"CanQuit", true},
          {"CanRaise", true},
          {"HasTrackList", false},
          {"Identity", QGuiApplication::applicationDisplayName()},
          {"DesktopEntry", QGuiApplication::desktopFileName()},
          {"SupportedUriSchemes", QStringList{"file"}},
          {"SupportedMimeTypes", QStringList{"video/mp4", "video/quicktime", "image/jpeg"}},
      };
    }
    if (interface != kPlayer) return {};
    return {
        {"PlaybackStatus", PlaybackStatus(s)},
        {"Rate", 1.0},
        {"Metadata", Metadata(s)},
        {"Volume", s.volume},
        {"Position", qlonglong(s.position_ms) * 1000},
        {"MinimumRate", 1.0},
        {"MaximumRate", 1.0},
        {"CanGoNext", false},
        {"CanGoPrevious", false},
        {"CanPlay", CanPlay(s)},
        {"CanPause", CanPlay(s)},
        {"CanSeek", CanSeek(s)},
        {"CanControl", true},
    };
  }

  QString TrackId() const { return kTrackPrefix + QString::number(track_); }

  QVariantMap Metadata(const MprisStatus& s) const {
    if (s.kind == MprisStatus::Kind::kNone) return {{"mpris:trackid", QVariant::fromValue(QDBusObjectPath(kNoTrack))}};
    const QString path = QFile::decodeName(QByteArray::fromStdString(s.path));
    QVariantMap metadata{
        {"mpris:trackid", QVariant::fromValue(QDBusObjectPath(TrackId()))},
        {"xesam:title", QFileInfo(path).fileName()},
        {"xesam:url", QString::fromLatin1(QUrl::fromLocalFile(path).toEncoded())},
    };
    if (s.kind == MprisStatus::Kind::kVideo && s.length_ms > 0) {
      metadata.insert("mpris:length", qlonglong(s.length_ms) * 1000);
    }
    return metadata;
  }

  void SeekTo(int64_t target_ms) {
    source_->RemoteCommand(MprisCommand::kSeek, static_cast<double>(target_ms));
    status_.position_ms = seek_target_ms_ = target_ms;
    since_poll_.restart();
    since_seek_.start();
    Signal(QDBusMessage::createSignal(kObjectPath, kPlayer, "Seeked") << qlonglong(target_ms) * 1000);
  }

  // Reads the status and tells the bus what changed since the last time.
  void Poll() {
    const MprisStatus now = source_->RemoteStatus();
    const QVariantMap before = Properties(kPlayer, status_);
    if (now.path != status_.path) ++track_;
    const QVariantMap after = Properties(kPlayer, now);
    QVariantMap changed;
    for (const char* name : kAnnounced) {
      if (before.value(name) != after.value(name)) changed.insert(name, after.value(name));
    }
    if (!changed.isEmpty()) {
      Signal(QDBusMessage::createSignal(kObjectPath, kProperties, "PropertiesChanged")
             << kPlayer << changed << QStringList());
    }
    const bool settling = since_seek_.isValid() && since_seek_.elapsed() < kSeekSettleMs;
    if (!settling && now.open && status_.open && now.path == status_.path && CanPlay(now)) {
      const int64_t expected = status_.position_ms + (status_.playing ? since_poll_.elapsed() : 0);
      if (now.position_ms < status_.position_ms - kJumpMs || now.position_ms > expected + kJumpMs) {
        Signal(QDBusMessage::createSignal(kObjectPath, kPlayer, "Seeked") << qlonglong(now.position_ms) * 1000);
      }
    }
    status_ = now;
    // An old position reported while the engine is still seeking is not where playback is.
    if (settling && std::llabs(now.position_ms - seek_target_ms_) > kJumpMs) status_.position_ms = seek_target_ms_;
    since_poll_.restart();
  }

  void Signal(const QDBusMessage& signal) const {
    if (!service_.isEmpty()) QDBusConnection::sessionBus().send(signal);
  }

  MprisSource* source_;
  QString service_;
  QTimer timer_;
  MprisStatus status_;  // as last announced
  qint64 track_ = 1;    // the current file's number: a new file, a new track id
  QElapsedTimer since_poll_;
  QElapsedTimer since_seek_;  // since our last seek
  int64_t seek_target_ms_ = 0;
};

Mpris::Mpris(MprisSource* source) : object_(std::make_unique<Object>(source)) {
  if (!object_->Register()) object_.reset();
}

Mpris::~Mpris() = default;

std::string Mpris::serviceName() const { return object_ != nullptr ? object_->service().toStdString() : std::string(); }

}  // namespace spherolux::app
