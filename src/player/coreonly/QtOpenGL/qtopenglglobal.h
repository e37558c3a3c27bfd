// Every QtOpenGL header includes this one first. The engine and the elements are built
// with this folder ahead of Qt's, so that none of them can use the GUI.
#error "the engine and the elements use Qt Core only; QtOpenGL belongs to the widgets of the player"
