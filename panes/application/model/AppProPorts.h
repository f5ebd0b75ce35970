// What the controllers need of the toolkit and the file system, as
// protocols: AppKit implements them in view/, tests record them.
#import <Foundation/Foundation.h>

/// Asked by an open panel for each entry it could show.
@protocol AppProOpenPanelFilter
- (BOOL)panel:(id)sender shouldShowFilename:(NSString *)filename;
@end

@protocol AppProToolkit
/// A modal informational panel; returns when the user closed it.
- (void)showInformationalPanel:(NSString *)title button:(NSString *)button;
/// Begins `window` as a sheet on the application's key window.
- (void)beginSheet:(id)window;
/// Ends the sheet and orders `window` out.
- (void)endSheet:(id)window;
/// Runs an open panel starting in `folder`; `filter` decides which entries
/// show. Answers the chosen paths in the panel's order, or nil when the
/// user cancelled.
- (NSArray *)runOpenPanelIn:(NSString *)folder
                      title:(NSString *)title
                     prompt:(NSString *)prompt
                      files:(BOOL)files
                    folders:(BOOL)folders
                   multiple:(BOOL)multiple
                     filter:(id<AppProOpenPanelFilter>)filter;
/// The text colour of the tables: black unlocked, gray locked.
- (id)textColorForUnlocked:(BOOL)unlocked;
@end

@protocol AppProPathInfo
/// What the file system shows for the path.
- (NSString *)displayNameAtPath:(NSString *)path;
/// The workspace's icon for the path; nil without a display.
- (id)iconForPath:(NSString *)path;
@end

/// The installed toolkit (nil until one is set: panels then show nothing).
id<AppProToolkit> AppProToolkitPort(void);
void AppProSetToolkit(id<AppProToolkit> toolkit);
/// The installed path information; by default names without icons.
id<AppProPathInfo> AppProPathInfoPort(void);
/// nil: back to the default.
void AppProSetPathInfo(id<AppProPathInfo> info);
/// The pane's display name of an application path: its last component
/// without ".app" ("/Applications/Mail.app" gives "Mail").
NSString *AppProDisplayNameOfPath(NSString *path);
