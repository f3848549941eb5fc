// PublicationErrorHandling: publication-error records and their
// replacements XML.
//
// A failure that concerns a stored document and that a portal user must
// see becomes one PUBLICATIONERRORS row. The row keeps the label key of the
// failure and the placeholder values as a small XML text, so the portal can
// render the message later in the reader's locale:
//   <REPS><REP name="[%DOCID%]">42</REP>…</REPS>
// with one REP element per value, in the order the values were added.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace quillon {

class Dictionary;
class DomDocument;

namespace PublicationErrorHandling {

// Writes one row for the document and returns its PUBLICATIONERRORID, or 0
// (and writes nothing) when the document has no type or does not exist.
// The source is cut to 255 characters; an empty label and a missing
// replacements document leave LABEL and REPLACEMENTS null.
std::int32_t LogPublicationError(std::int32_t docID, std::int32_t errorNumber, const std::string& description,
                                 const std::string& source, const std::string& label);
std::int32_t LogPublicationError(std::int32_t docID, std::int32_t errorNumber, const std::string& description,
                                 const std::string& source, const std::string& label,
                                 const std::shared_ptr<DomDocument>& replacements);

// A new document holding only the empty REPS root.
std::shared_ptr<DomDocument> NewReplacementsDocument();
// Appends <REP name="name">value</REP> under the document's root.
void AddReplacement(const std::shared_ptr<DomDocument>& document, const std::string& name, const std::string& value);
// Appends one REP per dictionary entry, in the dictionary's order. The
// document is replaced by a new one first when it is not set, has no root,
// or its root is not REPS.
void AddReplacements(std::shared_ptr<DomDocument>& document, const std::shared_ptr<Dictionary>& replacements);
// Marks every error the SELECT text chooses as closed by the system (bit 1
// of CLOSED); the text must select whole PUBLICATIONERRORS rows.
void CloseSelectedErrors(const std::string& selectSql);
// Closes the document's open errors of a category: "CannotPublish" (the
// errors of recipients that could not be found or published) or
// "SelectRecipients" (unknown recipients and partner codes), in any letter
// case; any other category raises InvalidParamValue.
void CloseErrorsOfCategory(std::int32_t docID, const std::string& category);

// Adds the (name → value) pairs stored in the REPLACEMENTS column of one
// row of `table` to the dictionary, creating it when it is not set. A name
// already in the dictionary raises. `table` must be a plain table name,
// optionally with the "dbo." prefix; anything else raises InvalidParamValue.
void GetReplacementsFromTable(std::shared_ptr<Dictionary>& replacements, const std::string& table,
                              std::int32_t errorID);

}  // namespace PublicationErrorHandling
}  // namespace quillon
