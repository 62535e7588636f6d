#pragma once
// The destination check of a whole list: every settled item gets an
// existing destination folder (asking before creating one) and a file name,
// and items that would write the same local file are shown to the user in
// groups until no clash remains or the user ignores it.
#include <string>
#include <vector>

namespace zorv {

class CZorvDoc;
class IPrompt;

// One item of a clash group as the user sees and edits it.
struct CDestEntry {
    std::string url;
    std::string destination;
    std::string fileName;
};

class IDestClashResolver {
public:
    virtual ~IDestClashResolver() = default;
    // Shows a group of at least two items (in group order). On OK the
    // entries hold the destinations and file names the user gave (an empty
    // file name: the last segment of the item's URL) and the answer is true;
    // "ignore" answers false and leaves the items as they are.
    virtual bool ResolveClash(std::vector<CDestEntry>& entries) = 0;
};

// Runs the check over `doc` on the UI thread. Items in progress are neither
// examined nor compared; a Cancel to a folder question ends the walk over
// the items, and the clashes among those already walked are still shown.
void CheckDestinations(CZorvDoc& doc, IPrompt& prompt, IDestClashResolver& resolver);

} // namespace zorv
