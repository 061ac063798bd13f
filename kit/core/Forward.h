#pragma once
// Declarations of kit's core layer (the run loop, timers, watches, processes, files, settings, notifications, the platform seam), for headers that
// only name them.

namespace kit {

class ChildProcess;
class Clock;
class RealClock;
class ManualClock;
struct DeviceInfo;
class DeviceLayout;
struct Error;
class FdWatcher;
class FileHandle;
class FileManager;
struct Location;
class LocationSource;
struct Notification;
class Observation;
class NotificationCenter;
class Pipe;
class Platform;
class RunLoop;
class RunLoopBackend;
class PollBackend;
class Timer;
class Token;
class UserDefaults;
class Utf8Decoder;

} // namespace kit
