#import "PaneStrings.h"

NSBundle *PaneResourceBundle(NSBundle *chosen, Class owner)
{
    if (chosen != nil)
        return chosen;
    return [NSBundle bundleForClass:owner];
}

void PaneKeepBundle(NSBundle **slot, NSBundle *bundle)
{
    [bundle retain];
    *slot = bundle;
}

NSString *PaneLocalized(NSBundle *bundle, NSString *key, NSString *table)
{
    if (key == nil)
        return nil;
    NSString *text = [bundle localizedStringForKey:key value:@"" table:table];
    if (text == nil || [text length] == 0)
        return key;
    return text;
}

void PaneCopyTexts(const PaneText *texts, size_t count, NSBundle *bundle, NSString *table)
{
    size_t i;
    for (i = 0; i < count; i++)
        *texts[i].field = [PaneLocalized(bundle, texts[i].key, table) copy];
}
