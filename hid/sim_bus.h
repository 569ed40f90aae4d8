// An in-process HID bus for tests and demos: a HidBackend whose interfaces
// are objects of this process instead of devices on a USB bus.
//
// The bus knows nothing of what the reports mean. It plays the platform's
// part: enumeration, attributes, data handles, the bound and the stop event
// of every transfer, and a queue of input reports per read handle (a report
// that the other end sends while no read handle is open is lost to that
// handle, as with the kernel's per-handle queues). What sits at the other
// end of an interface, and what it does with the reports, is a SimPeer.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "hid/hid_backend.h"

namespace gps {

// What is at the other end of a simulated interface. The bus calls it from
// whichever thread makes the transfer, without a lock of its own held: a
// peer that is shared between threads guards itself.
class SimPeer {
 public:
  using Clock = std::chrono::steady_clock;

  // One input report as the other end sends it: the 64 bytes after the
  // report identifier, numbered in the order they are sent.
  struct InputReport {
    uint64_t number = 0;
    Clock::time_point sentAt{};
    std::array<uint8_t, 64> payload{};
  };

  // How the platform hands input reports to a read handle.
  struct ReadDelivery {
    uint32_t chunk = 64;       // payload bytes one read delivers at most
    uint32_t emptyReads = 0;   // reads of a new handle that complete with no payload
  };

  // What became of one output report.
  struct WriteAnswer {
    enum class Kind {
      Taken,    // the write completes, with `count` bytes moved
      Refused,  // the write call fails at once
      Stalled,  // the write never completes: it ends at its bound or at the stop
    };
    Kind kind = Kind::Refused;
    uint32_t count = 0;
  };

  virtual ~SimPeer() = default;

  // False while unplugged: the interface is then not on the bus, opens find
  // it gone and transfers fail.
  virtual bool Plugged() const = 0;
  // None lets a data open in `access` through; anything else refuses it
  // with that cause.
  virtual HidOpenError OpenRefusal(HidAccess access) const = 0;
  virtual ReadDelivery Delivery() const = 0;
  // The report lengths the other end declares, report identifier included.
  virtual HidReportLengths ReportLengths() const = 0;

  // One output report as the host wrote it: `length` bytes, the report
  // identifier first.
  virtual WriteAnswer TakeOutputReport(const uint8_t* report, uint32_t length) = 0;

  // The first input report numbered `from` or later that the other end has
  // sent or will send, whether or not it is due yet; empty when none is
  // planned. Numbers may jump: reports that were planned and then dropped
  // (a new erase replaces the messages of the last) are never handed out.
  virtual std::optional<InputReport> NextInputReport(uint64_t from) const = 0;
};

// An interface on the simulated bus: a peer, or a foreign HID interface
// that can be enumerated (and queried) but never opened.
struct SimInterface {
  std::string path;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  bool queryable = true;
  SimPeer* peer = nullptr;  // null: a foreign interface
  std::string serial;
};

class SimBus : public HidBackend {
 public:
  SimBus();
  // A bus with one device on it, at "sim:0416:b500".
  explicit SimBus(SimPeer& device);
  ~SimBus() override;

  // Peers must outlive the bus's use of them.
  void AddInterface(SimInterface interface);
  // A device with our vendor and product at `path`. Several devices may sit
  // on one bus, each at a path (and with a serial number) of its own.
  void AddDevice(SimPeer& device, std::string path = "sim:0416:b500", std::string serial = {});
  uint64_t OpenHandles() const;

  std::vector<std::string> EnumerateInterfaces() override;
  std::optional<HidAttributes> QueryAttributes(const std::string& path) override;
  std::string QuerySerial(const std::string& path) override;
  HidOpenResult OpenData(const std::string& path, HidAccess access) override;
  TransferResult Transfer(HidHandle handle, HidDirection direction,
                          uint8_t* buffer, uint32_t length, uint32_t boundMs,
                          const StopEvent& stop) override;
  std::optional<HidReportLengths> ReportLengths(HidHandle handle) override;
  void Cancel(HidHandle handle) override;
  void Close(HidHandle handle) override;

 private:
  struct Handle;
  using Clock = SimPeer::Clock;
  const SimInterface* Find(const std::string& path) const;
  TransferResult Write(Handle& h, const uint8_t* buffer, uint32_t length,
                       Clock::time_point deadline, const StopEvent& stop);
  TransferResult Read(Handle& h, uint8_t* buffer, uint32_t length,
                      Clock::time_point deadline, const StopEvent& stop);

  mutable std::mutex mutex_;
  std::vector<SimInterface> interfaces_;
  // The open handles by number. A closed one is forgotten, so that a bus that
  // opens devices for days (a station) holds only what is open; numbers are
  // never handed out twice.
  // A transfer holds its handle while it runs, so that a close from another
  // thread ends it rather than pulling the handle from under it.
  std::map<HidHandle, std::shared_ptr<Handle>> handles_;
  HidHandle nextHandle_ = 0;
};

}  // namespace gps
