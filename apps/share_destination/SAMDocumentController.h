#pragma once
// The application's open documents. Movies and descriptions opened from outside become
// assets of the current document (made when there is none); a saved collection opens
// as a document of its own. Main thread only.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "apps/share_destination/SAMDocument.h"
#include "base/Error.h"

class SAMDocumentController {
  public:
    static constexpr const char* kMediaFileType = "Asset Media File";
    static constexpr const char* kDescriptionFileType = "Asset Description File";

    using Opened =
        std::variant<std::monostate, std::shared_ptr<SAMDocument>, std::shared_ptr<SAMAsset>>;
    using Completion = std::function<void(const Opened& opened, bool alreadyOpen,
                                          const std::optional<base::Error>& error)>;

    static SAMDocumentController& sharedDocumentController();

    // The document of the active window, else none.
    std::shared_ptr<SAMDocument> currentDocument() const;
    const std::vector<std::shared_ptr<SAMDocument>>& documents() const { return documents_; }
    // The current document, else the first, else a new untitled one (opened, with its
    // window made and shown when `display`).
    std::shared_ptr<SAMDocument> targetDocument(bool display);
    std::shared_ptr<SAMDocument> openUntitledDocumentAndDisplay(bool display);
    void addDocument(std::shared_ptr<SAMDocument> document);
    void removeDocument(const std::shared_ptr<SAMDocument>& document);
    // The document whose unique ID this is; none when there is none.
    std::shared_ptr<SAMDocument> documentWithUniqueID(const std::string& uniqueID) const;

    // The document type for the file's extension (movies "mov", "mp4" in any case,
    // "fcpxml", and saved collections); none and an error for anything else.
    std::optional<std::string> typeForContentsOfURL(const platform::scripting::FileURL& url,
                                                    base::Error* error) const;
    void openDocumentWithContentsOfURL(const platform::scripting::FileURL& url, bool display,
                                       const Completion& completion);

    // Forgets every document (tests).
    void closeAll();

  private:
    SAMDocumentController() = default;
    std::vector<std::shared_ptr<SAMDocument>> documents_;
};
