namespace varnel {}
