#pragma once
// One bucket of a service listing, with the owner the listing named first.
#include <optional>
#include <string>

#include "base/Value.h"

class TXS3Bucket {
  public:
    static TXS3Bucket bucketWithOwnerID(const std::string& ownerID, const std::string& ownerName);

    // "Name: %@ creationDate: %@ ownerID: %@ ownerName: %@".
    std::string description() const;

    const std::string& name() const { return name_; }
    void setName(const std::string& name) { name_ = name; }
    const std::optional<base::Date>& creationDate() const { return creationDate_; }
    void setCreationDate(const std::optional<base::Date>& date) { creationDate_ = date; }
    const std::string& ownerID() const { return ownerID_; }
    void setOwnerID(const std::string& id) { ownerID_ = id; }
    const std::string& ownerName() const { return ownerName_; }
    void setOwnerName(const std::string& name) { ownerName_ = name; }

    // The listing date format, "yyyy-MM-dd'T'HH:mm:ss'.000Z'" in UTC; anything else
    // (other milliseconds included) reads as no date.
    static std::optional<base::Date> dateFromListing(const std::string& text);
    // A date for a description: "2026-12-09 04:26:31 +0000", or "(null)".
    static std::string describeDate(const std::optional<base::Date>& date);

  private:
    std::string name_;
    std::optional<base::Date> creationDate_;
    std::string ownerID_;
    std::string ownerName_;
};
