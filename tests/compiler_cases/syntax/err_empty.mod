// the model holds only this comment
// ^1 error[T0149]: the model is empty: declare its data and decision variables, then an objective and 'subject to { ... }'
