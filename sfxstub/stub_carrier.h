// The stub programs a module carries, opened for a build without a copy on
// disk. The Windows builds carry them as resources of their own module
// file (sfxstub/CMakeLists.txt, orv_carry_stubs); the native build embeds
// the win32 tree's resource-only carrier module as bytes. The build system
// picks the source file that fits the tree.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class ExeImage;
class LogBase;

class CarriedStub {
public:
    CarriedStub();
    ~CarriedStub();
    CarriedStub(const CarriedStub&) = delete;
    CarriedStub& operator=(const CarriedStub&) = delete;

    // Opens the carried stub `id` (kStubResourceId or kStub64ResourceId)
    // as an image over the carrier's bytes. False, after logging why, when
    // the carrier is unreadable or lacks the stub.
    bool open(uint16_t id, LogBase* log);
    // The stub opened last; a build changes its resources, so each build
    // opens it again.
    ExeImage* image() const { return stub_.get(); }

private:
    std::unique_ptr<ExeImage> carrier_;  // holds the bytes the stub's image reads
    std::unique_ptr<ExeImage> stub_;
};

// The carrier module of this build, loaded; null after logging why. name
// receives the carrier's file (empty when it is not a file of its own).
// Each tree's variant of the carrier defines it.
ExeImage* loadStubCarrier(std::string* name, LogBase& log);
