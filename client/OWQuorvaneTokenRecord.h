#pragma once
// The token record that every program of the suite shares through the keychain, its two
// older forms, and the credential line the hub prints in its "-oauth" mode.
//
// Record: account = application name, password = access token, generic attribute =
// "<user>###<server>###<expiry seconds since 1970>###<refresh token>". Older records
// keep the same item under "com.oxburyworks.quorvane", or an e-mail account whose
// password is the user's password and whose attribute has three fields.
//
// The user name comes from the service, the server is typed by the user and the tokens
// come from the service, so a field may hold what would move the next field ("###", or
// a "#" at its end) or what the keychain's property list cannot hold as text (control
// characters other than tab and line ends, U+FFFE, U+FFFF, bytes that are not UTF-8).
// Such a field, one that begins with the mark "%%" and a value reading "(null)" are
// written as "%%" and the text with "%" as "%25", "#" as "%23" and each such byte as
// "%XX" (upper-case hex); every other field is written as it stands, so records and
// hand-overs of ordinary values read the same everywhere. A field is read as escaped
// only when it is in exactly that form; one written as it stands before values were
// escaped (say "%%abc") reads as written. The access token, kept in the password,
// is stored and read as it stands.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Value.h"

struct OWQuorvaneTokenRecord {
    static constexpr const char* kSeparator = "###";
    static constexpr const char* kNullText = "(null)";
    static constexpr const char* kEscapedMark = "%%";
    // Texts longer than this are not taken apart; no record or hand-over line longer
    // than its reader's limit is written.
    static constexpr size_t kMaxTextLength = 64 * 1024;

    // What one keychain item says, before the controller acts on it.
    enum class Kind {
        UserOnly,       // fewer than three fields, or a legacy record not honoured
        PasswordGrant,  // three fields: ask for tokens with the stored password
        Tokens,         // four or more fields
    };
    Kind kind = Kind::UserOnly;
    std::optional<std::string> username;
    std::string serverURL;                    // empty: the hosted service
    std::optional<std::string> accessToken;   // Tokens
    std::optional<base::Date> expires;        // Tokens
    std::optional<std::string> refreshToken;  // Tokens
    std::string password;                     // PasswordGrant
    std::string loginEmail;                   // PasswordGrant

    // Reads one item: its account, password text and generic attribute. A three-field
    // record is honoured only when `honourLegacy` is set.
    static OWQuorvaneTokenRecord fromItem(const std::string& account, const std::string& password,
                                          const std::optional<std::string>& generic,
                                          bool honourLegacy);

    // The generic attribute written for the record.
    static std::string genericAttribute(const std::optional<std::string>& username,
                                        const std::string& serverURL,
                                        const std::optional<base::Date>& expires,
                                        const std::optional<std::string>& refreshToken);

    // A value as a field: as it stands unless it could move another field or cannot be
    // stored as text (above).
    static std::string fieldText(std::string_view value);
    // The value of a field written by fieldText; any other field as it stands.
    static std::string fieldValue(std::string_view field);

    // Splits at "###"; none when the text is longer than kMaxTextLength.
    static std::optional<std::vector<std::string>> splitFields(std::string_view text);
    // Leading white space, an optional sign and digits; 0 when there are none; clamped
    // at the limits of int64_t.
    static int64_t integerValue(std::string_view text);
    // Without white space and line ends at either end.
    static std::string trimmed(std::string_view text);
    // A token field: a bare "(null)" and the empty text mean no token.
    static std::optional<std::string> tokenField(std::string_view text);
    // A user name field: trimmed.
    static std::string nameField(std::string_view text);
    // A server field: trimmed, and "(null)" counts as empty.
    static std::string serverField(std::string_view text);
};
