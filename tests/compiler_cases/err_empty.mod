// expect: model:1:1: the model is empty: declare its data and decision variables, then an objective and 'subject to { ... }'
// the model holds only this comment
