#pragma once
// The base of the share destination's scriptable objects: a unique ID, a name and the
// container (the document) whose element it is. Everything here runs on the main
// thread, where scripting commands and windows live.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/scripting/Descriptor.h"

class SAMDocument;

class SAMObject {
  public:
    SAMObject();
    virtual ~SAMObject();
    SAMObject(const SAMObject&) = delete;
    SAMObject& operator=(const SAMObject&) = delete;

    // The document holding this object. Not retained: the document owns its assets.
    std::shared_ptr<SAMDocument> container() const;
    const std::string& containerProperty() const;
    void setContainer(std::weak_ptr<SAMDocument> container, std::string property);
    const std::string& uniqueID() const { return uniqueID_; }
    void setUniqueID(std::string uniqueID);
    const std::string& name() const;
    void setName(std::string name);

    // A unique-ID specifier: the container's specifier, the container's element key and
    // this object's unique ID.
    platform::scripting::Descriptor objectSpecifier() const;

    // "SSO-<process id>-<n>", n counting from 1 for every document and asset.
    static std::string calculateNewUniqueID();
    // 1, 2, 3, ...: the number of the next default name "Untitled <n>".
    static uint64_t calculateNameCounter();
    // Starts both counters again (tests only).
    static void resetCountersForTesting();

  protected:
    virtual platform::scripting::FourCharCode classCode() const;

  private:
    std::weak_ptr<SAMDocument> container_;
    std::string containerProperty_;
    std::string uniqueID_;
    std::string name_;
};
