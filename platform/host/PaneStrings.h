// The strings-table lookup every pane shares.
#import <Foundation/Foundation.h>

#ifdef __cplusplus
extern "C" {
#endif

/// `chosen` when set, else the bundle holding `owner`.
NSBundle *PaneResourceBundle(NSBundle *chosen, Class owner);
/// Puts `bundle` in `*slot` and keeps it for the process's life: GNUstep
/// deadlocks freeing a bundle that has loaded a table (its path cache is
/// locked while it logs).
void PaneKeepBundle(NSBundle **slot, NSBundle *bundle);
/// The text of `key` in `table` of `bundle`, asked with the empty default:
/// a missing key (or an empty text, which some tables give) answers the key
/// itself; nil for nil. Raises what the bundle raises.
NSString *PaneLocalized(NSBundle *bundle, NSString *key, NSString *table);

/// A label a strings class holds and the key of its text.
typedef struct {
    NSString **field;
    NSString *key;
} PaneText;
/// Puts in each field a copy of its key's text in `table` of `bundle`.
void PaneCopyTexts(const PaneText *texts, size_t count, NSBundle *bundle, NSString *table);

#ifdef __cplusplus
}
#endif
