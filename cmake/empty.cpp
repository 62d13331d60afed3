// placeholder so that an empty module still builds
